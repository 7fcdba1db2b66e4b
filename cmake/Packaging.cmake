# Install rules of the programs, documents and manual pages, and the Debian package made by
# `cpack -G DEB` (scripts/package). Codec modules and data install from their own folders.
include(GNUInstallDirs)

foreach(program vexel vexel-viewer)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

# Manual pages and the changelog go in compressed, as Debian wants them; -n keeps the
# compressed bytes free of time stamps.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(compressed)
foreach(source man/vexel.1 man/vexel-viewer.1 packaging/changelog)
    get_filename_component(name ${source} NAME)
    set(output ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
        COMMAND sh -c "${GZIP_PROGRAM} -9n -c '${PROJECT_SOURCE_DIR}/${source}' > '${output}'"
        DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
    list(APPEND compressed ${output})
endforeach()
add_custom_target(vexel_compressed_docs ALL DEPENDS ${compressed})
install(FILES ${CMAKE_BINARY_DIR}/packaging/vexel.1.gz ${CMAKE_BINARY_DIR}/packaging/vexel-viewer.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/vexel)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${doc_dir}
        RENAME changelog.gz)
install(FILES packaging/copyright DESTINATION ${doc_dir})
install(FILES README.md DESTINATION ${doc_dir})
# The user guide and its screenshots; F1 opens it when no web site is set.
install(FILES docs/user-guide.md DESTINATION ${doc_dir})
install(DIRECTORY docs/guide DESTINATION ${doc_dir} FILES_MATCHING PATTERN "*.png")

set(CPACK_PACKAGE_NAME vexel)
set(CPACK_PACKAGE_VENDOR "The Vexel developers")
set(CPACK_PACKAGE_CONTACT "The Vexel developers <vexel@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DICOM viewer and command-line tool")
set(CPACK_PACKAGE_DESCRIPTION
    "Vexel opens DICOM files, folders, CDs and ZIP archives and shows their\n\
series with windowing, zoom, measurements, cine, MPR and PET/CT fusion.\n\
The vexel command dumps, renders, measures and exports the same images\n\
without a display.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the SVG icon plug-in, the overlay
# font's fallback, and the icon theme that owns the icon folders.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, fonts-dejavu-core, hicolor-icon-theme")
# Their dpkg triggers refresh the MIME database and the desktop and icon caches; Qt's Wayland
# platform plug-in lets the viewer run in a Wayland session without XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils, qt6-wayland")
set(CPACK_GENERATOR DEB)
include(CPack)
