# Run by CPack after it has written the packages (CPACK_POST_BUILD_SCRIPTS).
#
# The debug-symbols package that CPack 3.25 writes lists its files in md5sums
# under the absolute path of the build folder, and it has no documentation
# folder. This rewrites each .ddeb as Debian's own -dbgsym packages are made:
# md5sums with paths relative to the root, the .debug files not executable,
# and /usr/share/doc/NAME-dbgsym a link to the documentation of NAME, on which
# the package depends.
find_program(DPKG_DEB dpkg-deb REQUIRED)

foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "/([^/_]+)-dbgsym_[^/]+\\.ddeb$")
        continue()
    endif()
    set(name ${CMAKE_MATCH_1})
    set(root ${package}.tree)
    file(REMOVE_RECURSE ${root})
    execute_process(COMMAND ${DPKG_DEB} --raw-extract ${package} ${root}
                    COMMAND_ERROR_IS_FATAL ANY)

    file(GLOB_RECURSE debug_files ${root}/usr/lib/debug/*.debug)
    if(debug_files)
        file(CHMOD ${debug_files} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
    file(MAKE_DIRECTORY ${root}/usr/share/doc)
    file(CREATE_LINK ${name} ${root}/usr/share/doc/${name}-dbgsym SYMBOLIC)

    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/usr/*)
    list(SORT files)
    set(sums "")
    foreach(file IN LISTS files)
        if(NOT IS_SYMLINK ${root}/${file})
            file(MD5 ${root}/${file} sum)
            string(APPEND sums "${sum}  ${file}\n")
        endif()
    endforeach()
    file(WRITE ${root}/DEBIAN/md5sums "${sums}")

    execute_process(COMMAND ${DPKG_DEB} --root-owner-group --build ${root} ${package}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${root})
endforeach()
