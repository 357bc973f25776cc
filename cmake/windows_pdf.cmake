# The Windows build draws its certificate with libharu (PDF) and reads its logo with libpng.
# Debian has no Windows builds of them, so they are compiled here as static libraries from the
# upstream tarballs of Debian's source packages (fetched once by .ci/fetch-sources into
# PURGELET_SOURCES_DIR), against mingw-w64's zlib (libz-mingw-w64-dev). Nothing of theirs is in
# this repository.
set(PURGELET_SOURCES_DIR "${CMAKE_SOURCE_DIR}/build/sources" CACHE PATH
    "Where the source tarballs of the libraries built for Windows are kept")
set(PURGELET_PDF_PACKAGES libharu libpng1.6)

# The folder package's tarball unpacks to, fetched first when it is not there yet.
function(purgelet_unpacked package out)
    file(GLOB tarball "${PURGELET_SOURCES_DIR}/${package}_*.orig.tar.*")
    if(NOT tarball)
        message(STATUS "Fetching the sources of ${PURGELET_PDF_PACKAGES}")
        execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/.ci/fetch-sources
                                ${PURGELET_SOURCES_DIR} ${PURGELET_PDF_PACKAGES}
                        RESULT_VARIABLE fetched)
        file(GLOB tarball "${PURGELET_SOURCES_DIR}/${package}_*.orig.tar.*")
        if(NOT fetched EQUAL 0 OR NOT tarball)
            message(FATAL_ERROR "The source of ${package} could not be fetched; "
                                "see .ci/fetch-sources")
        endif()
    endif()
    list(GET tarball 0 tarball)
    get_filename_component(name "${tarball}" NAME)
    set(into "${CMAKE_BINARY_DIR}/third_party/${package}")
    # Unpacked again only when the tarball is another one.
    if(NOT EXISTS "${into}/${name}.unpacked")
        file(REMOVE_RECURSE "${into}")
        file(ARCHIVE_EXTRACT INPUT "${tarball}" DESTINATION "${into}")
        file(TOUCH "${into}/${name}.unpacked")
    endif()
    file(GLOB top LIST_DIRECTORIES true "${into}/*")
    list(FILTER top EXCLUDE REGEX "\\.unpacked$")
    list(LENGTH top count)
    if(NOT count EQUAL 1)
        message(FATAL_ERROR "${tarball} does not unpack to one folder")
    endif()
    set(${out} "${top}" PARENT_SCOPE)
endfunction()

find_library(PURGELET_MINGW_ZLIB NAMES libz.a z REQUIRED)
find_path(PURGELET_MINGW_ZLIB_INCLUDE zlib.h REQUIRED)

purgelet_unpacked(libpng1.6 png_dir)
set(png_generated "${CMAKE_BINARY_DIR}/third_party/png-include")
configure_file("${png_dir}/scripts/pnglibconf.h.prebuilt" "${png_generated}/pnglibconf.h" COPYONLY)
add_library(purgelet_png STATIC
    ${png_dir}/png.c ${png_dir}/pngerror.c ${png_dir}/pngget.c ${png_dir}/pngmem.c
    ${png_dir}/pngpread.c ${png_dir}/pngread.c ${png_dir}/pngrio.c ${png_dir}/pngrtran.c
    ${png_dir}/pngrutil.c ${png_dir}/pngset.c ${png_dir}/pngtrans.c ${png_dir}/pngwio.c
    ${png_dir}/pngwrite.c ${png_dir}/pngwtran.c ${png_dir}/pngwutil.c)
target_include_directories(purgelet_png SYSTEM PUBLIC ${png_dir} ${png_generated}
                                                       ${PURGELET_MINGW_ZLIB_INCLUDE})
target_link_libraries(purgelet_png PUBLIC ${PURGELET_MINGW_ZLIB})
target_compile_options(purgelet_png PRIVATE -w)

purgelet_unpacked(libharu haru_dir)
set(haru_generated "${CMAKE_BINARY_DIR}/third_party/haru-include")
file(WRITE "${haru_generated}/hpdf_config.h.new"
     "#define LIBHPDF_HAVE_NOPNGLIB 1\n#define HPDF_NOPNGLIB 1\n#define LIBHPDF_HAVE_LIBZ 1\n"
     "#define LIBHPDF_HAVE_STDLIB_H 1\n#define LIBHPDF_HAVE_STRING_H 1\n"
     "#define LIBHPDF_STDC_HEADERS 1\n")
configure_file("${haru_generated}/hpdf_config.h.new" "${haru_generated}/hpdf_config.h" COPYONLY)
file(GLOB haru_sources "${haru_dir}/src/*.c")
add_library(purgelet_haru STATIC ${haru_sources})
target_include_directories(purgelet_haru SYSTEM PUBLIC ${haru_dir}/include ${haru_generated})
# libharu's own PNG reader is left out: it lets libpng abort the process on a damaged picture.
# The certificate decodes its logo with libpng's guarded reader and hands libharu the pixels.
target_link_libraries(purgelet_haru PUBLIC purgelet_png)
target_compile_options(purgelet_haru PRIVATE -w)
