# ---- The layers of the program, one static library each, bottom to top:
#   platform   the system interface, its back-end for this build and the simulated PC
#   base       methods, language files, the exceptions and the error log
#   ui         the form model, the Host and the dialog vocabulary
#   sanitize   firmware erase of ATA and NVMe drives (their command blocks)
#   disk       the disk classes and the pass engine (its questions go through ui's Host)
#   scsi       command blocks, transports, sense, the wait for immediate commands
#   optical    rewritable discs, on scsi and disk
#   report     the wipe report (the DoD style reads a block of the disk)
#   record     the machine-readable record of a run and its certificate
#   drives     the disk manager: the drives of the machine, of every kind
#   app        the main window's logic, the wipe job, the options
# The renderers (ui/tui, ui/win32) are layers over ui and platform beside the program they
# run (CMakeLists.txt).
# A layer links the layers below it that it uses, and the build checks every include of its
# files against what those layers offer: an include that reaches up fails the build.
set(PURGELET_SRC ${CMAKE_SOURCE_DIR}/src)

# purgelet_layer(NAME SOURCES globs... [EXCLUDE regexes...] HEADERS regexes...
#                [PUBLIC layers/libraries...] [PRIVATE layers/libraries...])
# SOURCES are globs under src/; HEADERS are the include paths (regexes) the layer offers.
function(purgelet_layer name)
    cmake_parse_arguments(L "" "" "SOURCES;EXCLUDE;HEADERS;PUBLIC;PRIVATE" ${ARGN})
    set(sources "")
    foreach(pattern ${L_SOURCES})
        file(GLOB found CONFIGURE_DEPENDS ${PURGELET_SRC}/${pattern})
        list(APPEND sources ${found})
    endforeach()
    foreach(pattern ${L_EXCLUDE})
        list(FILTER sources EXCLUDE REGEX "${pattern}")
    endforeach()
    # The headers the layer offers are checked as well as its sources.
    file(GLOB_RECURSE all_headers RELATIVE ${PURGELET_SRC} CONFIGURE_DEPENDS ${PURGELET_SRC}/*.h)
    set(own_headers "")
    foreach(header ${all_headers})
        foreach(pattern ${L_HEADERS})
            if(header MATCHES "^${pattern}$")
                list(APPEND own_headers ${PURGELET_SRC}/${header})
                break()
            endif()
        endforeach()
    endforeach()
    # What the layer may include: its own headers and everything the layers it uses may.
    set(allowed ${L_HEADERS})
    foreach(dependency ${L_PUBLIC} ${L_PRIVATE})
        if(TARGET ${dependency})
            get_target_property(offered ${dependency} PURGELET_VISIBLE)
            if(offered)
                list(APPEND allowed ${offered})
            endif()
        endif()
    endforeach()
    list(REMOVE_DUPLICATES allowed)

    set(stamp ${CMAKE_BINARY_DIR}/layers/${name}.checked)
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} -DLAYER=${name} "-DFILES=${sources};${own_headers}"
                "-DALLOWED=${allowed}" -DSOURCE_ROOT=${PURGELET_SRC} -DSTAMP=${stamp}
                -P ${CMAKE_SOURCE_DIR}/cmake/check_layer.cmake
        DEPENDS ${sources} ${own_headers} ${CMAKE_SOURCE_DIR}/cmake/check_layer.cmake
        COMMENT "Checking the includes of the ${name} layer" VERBATIM)
    add_custom_target(${name}_includes DEPENDS ${stamp})

    add_library(${name} STATIC ${sources})
    add_dependencies(${name} ${name}_includes)
    set_target_properties(${name} PROPERTIES PURGELET_VISIBLE "${allowed}")
    target_link_libraries(${name} PUBLIC purgelet_build_settings ${L_PUBLIC} PRIVATE ${L_PRIVATE})
    target_compile_options(${name} PRIVATE ${PURGELET_WARNINGS})
endfunction()
define_property(TARGET PROPERTY PURGELET_VISIBLE BRIEF_DOCS "include paths a layer may use"
                FULL_DOCS "The include paths (regexes) of a layer and of the layers below it")

purgelet_layer(purgelet_platform
    SOURCES platform/*.cpp platform/sim/*.cpp platform/${PURGELET_BACKEND}/*.cpp
    HEADERS "platform/.*")
purgelet_layer(purgelet_base
    SOURCES methods/*.cpp lang/*.cpp report/exceptions.cpp report/errorlog.cpp
    HEADERS "methods/.*" "lang/.*" "report/(exceptions|errorlog|date_time)\\.h"
    PUBLIC purgelet_platform)
purgelet_layer(purgelet_ui
    SOURCES ui/*.cpp
    HEADERS "ui/[^/]*")
# Firmware sanitize: ATA and NVMe command blocks and the drive's own erase.
purgelet_layer(purgelet_sanitize
    SOURCES sanitize/*.cpp
    HEADERS "sanitize/.*"
    PUBLIC purgelet_base)
# The disk manager's headers lie beside the disk classes' but belong to the layer above optical.
file(GLOB disk_headers RELATIVE ${PURGELET_SRC} CONFIGURE_DEPENDS ${PURGELET_SRC}/disk/*.h)
list(FILTER disk_headers EXCLUDE REGEX "/disk_(manager|classes)\\.h$")
list(TRANSFORM disk_headers REPLACE "\\." "\\\\.")
purgelet_layer(purgelet_disk
    SOURCES disk/*.cpp disk/nt/*.cpp disk/win9x/*.cpp
    EXCLUDE "/disk/(disk_manager|disk_classes)\\.cpp$"
    HEADERS ${disk_headers} "disk/(nt|win9x)/.*"
    PUBLIC purgelet_base purgelet_ui purgelet_sanitize)
purgelet_layer(purgelet_scsi
    SOURCES scsi/*.cpp
    HEADERS "scsi/.*"
    PUBLIC purgelet_base)
purgelet_layer(purgelet_optical
    SOURCES optical/*.cpp
    HEADERS "optical/.*"
    PUBLIC purgelet_disk purgelet_scsi)
purgelet_layer(purgelet_report
    SOURCES report/report.cpp
    HEADERS "report/report\\.h"
    PUBLIC purgelet_base PRIVATE purgelet_disk)
# The record of a run and its certificate; the certificate's surface is cairo's on Linux
# (certificate_cairo.cpp) and libharu's on Windows (certificate_haru.cpp).
if(WIN32)
    set(certificate_excluded "/record/certificate_cairo\\.cpp$")
else()
    set(certificate_excluded "/record/certificate_haru\\.cpp$")
endif()
purgelet_layer(purgelet_record
    SOURCES record/*.cpp
    EXCLUDE ${certificate_excluded}
    HEADERS "record/.*"
    PUBLIC purgelet_base)
purgelet_layer(purgelet_drives
    SOURCES disk/disk_manager.cpp disk/disk_classes.cpp
    HEADERS "disk/(disk_manager|disk_classes)\\.h"
    PUBLIC purgelet_disk purgelet_optical PRIVATE purgelet_report)
purgelet_layer(purgelet_app
    SOURCES app/*.cpp app/batch/*.cpp
    EXCLUDE "/app/(win_)?main\\.cpp$"
    HEADERS "app/.*"
    PUBLIC purgelet_drives purgelet_report purgelet_record)
