# stable_package_id.cmake: run with -DJS=page.js -DDATA=page.data after a page with preloaded
# files is linked. Emscripten's file packager may stamp the data package with a random UUID,
# read only by its IndexedDB cache, which the page does not use; the data's own SHA-256 in its
# place keeps that meaning and lets the page rebuild to the same bytes.
file(SHA256 "${DATA}" hash)
file(READ "${JS}" js)
string(REGEX REPLACE "\"package_uuid\": *\"[^\"]*\"" "\"package_uuid\": \"sha256-${hash}\"" js "${js}")
file(WRITE "${JS}" "${js}")
