# Run at install time (cmake --install, CPack). Makes the symbolic link LINK to TARGET; either is
# an absolute path or one below the install prefix. The link is relative when both lie under the
# same top-level folder, as Debian's policy wants (/usr/bin/uippack ->
# ../libexec/uippack/uippack), and absolute otherwise (/opt/uippack/... -> /usr/bin/7zz), so that
# it leads to the same file wherever DESTDIR stages it.
function(uippack_install_link target link)
  cmake_path(ABSOLUTE_PATH target BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" NORMALIZE)
  cmake_path(ABSOLUTE_PATH link BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" NORMALIZE)
  string(REGEX MATCH "^/[^/]*" targetTop "${target}")
  string(REGEX MATCH "^/[^/]*" linkTop "${link}")
  cmake_path(GET link PARENT_PATH folder)
  if(targetTop STREQUAL linkTop)
    file(RELATIVE_PATH text "${folder}" "${target}")
  else()
    set(text "${target}")
  endif()
  set(staged "$ENV{DESTDIR}${link}")
  file(MAKE_DIRECTORY "$ENV{DESTDIR}${folder}")
  message(STATUS "Installing: ${staged} -> ${text}")
  file(CREATE_LINK "${text}" "${staged}" SYMBOLIC)
  # Listed in install_manifest.txt like every other installed file.
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${staged}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()
