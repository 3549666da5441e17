# cmake -DNODE=<node> -DPOSTJECT=<postject cli.js> -DMAIN=<main.js> -DWORK=<folder> -P sea.cmake
# Writes <WORK>/Orvane: a copy of the Node.js runtime with MAIN as its script.
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/sea-config.json
     "{ \"main\": \"${MAIN}\", \"output\": \"${WORK}/sea-prep.blob\", \"disableExperimentalSEAWarning\": true }\n")

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
endfunction()

run("Preparing the script blob" ${NODE} --experimental-sea-config ${WORK}/sea-config.json)
file(REMOVE ${WORK}/node ${WORK}/Orvane.part)
file(COPY ${NODE} DESTINATION ${WORK})
get_filename_component(node_name ${NODE} NAME)
file(RENAME ${WORK}/${node_name} ${WORK}/Orvane.part)
run("Injecting the script" ${NODE} ${POSTJECT} ${WORK}/Orvane.part NODE_SEA_BLOB ${WORK}/sea-prep.blob
    --sentinel-fuse NODE_SEA_FUSE_fce680ab2cc467b6e072b8b5df1996b2)
file(RENAME ${WORK}/Orvane.part ${WORK}/Orvane)
