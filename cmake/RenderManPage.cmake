# cmake -DSCDOC=... -DINPUT=page.scd -DOUTPUT=page.gz -P RenderManPage.cmake
# Renders one page with scdoc and compresses it the way Debian wants (gzip -9n); a page scdoc
# rejects fails the build and leaves no output behind.
get_filename_component(dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
execute_process(COMMAND ${SCDOC} INPUT_FILE ${INPUT} OUTPUT_FILE ${OUTPUT}.roff
                ERROR_VARIABLE error RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.roff)
  message(FATAL_ERROR "scdoc rejected ${INPUT}: ${error}")
endif()
execute_process(COMMAND gzip -9n -c ${OUTPUT}.roff OUTPUT_FILE ${OUTPUT}.tmp RESULT_VARIABLE status)
file(REMOVE ${OUTPUT}.roff)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.tmp)
  message(FATAL_ERROR "gzip failed on the rendered ${INPUT}")
endif()
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
