# The boot image: the Linux program on Debian's kernel in an initramfs, and a hybrid ISO
# (image/build_image.py). `make image` copies it to dist/; the VM tests boot it in QEMU.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(PURGELET_IMAGE_DIR ${CMAKE_BINARY_DIR}/image/purgelet-boot-${PROJECT_VERSION})
file(GLOB PURGELET_IMAGE_METHODS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/Methods/*.met)
add_custom_command(OUTPUT ${PURGELET_IMAGE_DIR}/initrd.img ${PURGELET_IMAGE_DIR}/vmlinuz
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/image/build_image.py
            --program $<TARGET_FILE_DIR:purgelet> --out ${PURGELET_IMAGE_DIR}
            --version ${PROJECT_VERSION} --cache ${CMAKE_BINARY_DIR}/image/cache
    DEPENDS purgelet purgelet_lng purgelet-tool ${CMAKE_SOURCE_DIR}/image/build_image.py
            ${CMAKE_SOURCE_DIR}/image/init ${CMAKE_SOURCE_DIR}/image/fonts.conf
            ${PURGELET_IMAGE_METHODS}
    COMMENT "Building the boot image in ${PURGELET_IMAGE_DIR}")
add_custom_target(boot_image ALL DEPENDS ${PURGELET_IMAGE_DIR}/initrd.img)
