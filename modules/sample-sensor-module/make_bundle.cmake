# Puts module.so and fans.json into a fresh bundle folder with fixed modes:
# the loader refuses anything writable by group or others, and the build's
# umask must not decide that.
#   cmake -DMODULE=<built module.so> -DFANS=<fans.json> -DBUNDLE=<bundle folder> -P make_bundle.cmake
set(folder_mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(REMOVE_RECURSE "${BUNDLE}")
file(MAKE_DIRECTORY "${BUNDLE}")
file(CHMOD "${BUNDLE}" PERMISSIONS ${folder_mode})
file(COPY_FILE "${MODULE}" "${BUNDLE}/module.so")
file(CHMOD "${BUNDLE}/module.so" PERMISSIONS ${folder_mode})
file(COPY_FILE "${FANS}" "${BUNDLE}/fans.json")
file(CHMOD "${BUNDLE}/fans.json" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
