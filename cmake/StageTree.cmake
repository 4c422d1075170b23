# cmake -DSRC=<samples/install> -DDST=<stage dir> -P StageTree.cmake
# Copies the sample install tree; ".keep" files only hold empty folders in git.
file(MAKE_DIRECTORY ${DST})
file(COPY ${SRC}/ DESTINATION ${DST} PATTERN ".keep" EXCLUDE)
