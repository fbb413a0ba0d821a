# cmake -DFILE=PassWord.exe -DDIST=dir -P Release.cmake
# Puts the program to hand out and its checksum into DIST.
file(MAKE_DIRECTORY ${DIST})
get_filename_component(name ${FILE} NAME)
file(COPY_FILE ${FILE} ${DIST}/${name})
file(SHA256 ${DIST}/${name} hash)
file(WRITE ${DIST}/SHA256SUMS "${hash}  ${name}\n")
message(STATUS "${DIST}/${name}\n   ${hash}")
