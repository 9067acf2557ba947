# The Debian package of scripts/package: everything `cmake --install` puts
# under /usr, with the run-time dependencies found by dpkg-shlibdeps. The
# hardening flags come from dpkg-buildflags (scripts/package passes them).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvalle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Orvalle developers <orvalle@halvorn.org>")
set(CPACK_PACKAGE_VENDOR Halvorn)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fit model curves to laboratory data by weighted least squares")
# CPack puts the summary above this text as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Orvalle is a desktop program for university teaching laboratories.\n\
Students load plain-text data (x, y and the error of y), make named\n\
datasets, fit model curves to them by weighted least squares and judge\n\
every fit by its chi-square, with the 5, 20, 80 and 95 percent points of\n\
the chi-square distribution and a plain-language verdict.\n\
.\n\
The package holds the windowed program orvalle, the batch command\n\
orvalle-fit, a sample plug-in model, the help book and example data.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# No Homepage field: the program has no web page yet.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS gnuplot)
set(CPACK_STRIP_FILES ON)


# The manual pages and Debian's changelog are installed compressed as Debian
# wants them (maximum compression, no time stamp); the copyright as it is.
find_program(ORVALLE_GZIP gzip REQUIRED)
set(gzipped "")
foreach(pair "docs/orvalle.1|share/man/man1" "docs/orvalle-fit.1|share/man/man1"
             "docs/package/changelog|share/doc/orvalle")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 destination)
  get_filename_component(name ${source} NAME)
  set(out ${CMAKE_BINARY_DIR}/gzipped/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/gzipped
    COMMAND ${ORVALLE_GZIP} -9nc ${PROJECT_SOURCE_DIR}/${source} > ${out}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source})
  list(APPEND gzipped ${out})
  install(FILES ${out} DESTINATION ${destination})
endforeach()
add_custom_target(gzipped_docs ALL DEPENDS ${gzipped})
install(FILES ${PROJECT_SOURCE_DIR}/docs/package/copyright DESTINATION share/doc/orvalle)

# The run-time dependencies. CPack's own scan (CPACK_DEBIAN_PACKAGE_SHLIBDEPS)
# would also write postinst and postrm scripts that run ldconfig, because the
# plug-in is a shared object under /usr/lib; but the plug-in is loaded by its
# full path from the private folder lib/orvalle and the linker's cache never
# sees it. So dpkg-shlibdeps is run here, on the built programs and plug-in,
# when cpack makes the Debian package, and the package has no maintainer
# scripts at all.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(shlib_files "")
foreach(target orvalle orvalle-fit customfit)
  if(TARGET ${target})
    string(APPEND shlib_files " \"$<TARGET_FILE:${target}>\"")
  endif()
endforeach()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/CPackDebDepends.cmake CONTENT "\
# Written by cmake/packaging.cmake: the Depends field from dpkg-shlibdeps.
if(CPACK_GENERATOR STREQUAL \"DEB\")
  set(work \"${CMAKE_BINARY_DIR}/shlibdeps\")
  file(MAKE_DIRECTORY \"\${work}/debian\")
  file(TOUCH \"\${work}/debian/control\")
  execute_process(COMMAND dpkg-shlibdeps -O ${shlib_files}
    WORKING_DIRECTORY \"\${work}\" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out MATCHES \"^shlibs:Depends=\")
    message(FATAL_ERROR \"dpkg-shlibdeps failed: \${err}\")
  endif()
  string(REGEX REPLACE \"^shlibs:Depends=\" \"\" out \"\${out}\")
  string(STRIP \"\${out}\" CPACK_DEBIAN_PACKAGE_DEPENDS)
endif()
")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackDebDepends.cmake)
include(CPack)
