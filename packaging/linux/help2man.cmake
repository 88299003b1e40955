# Writes the command-line front end's man page from its --help-all, every verb's options
# (cmake -P, at build time):
#   -DHELP2MAN=path -DPROGRAM=path -DOUTPUT=dir/name.1 -DNAME="one line"
# A program whose help cannot be had (it fails, or prints nothing) gets no man page: the build goes
# on with a warning and the package leaves the page out.
file(REMOVE "${OUTPUT}" "${OUTPUT}.gz")
execute_process(
  COMMAND "${HELP2MAN}" --no-info --no-discard-stderr --help-option=--help-all --version-option=--version "--name=${NAME}"
          --section=1 "--output=${OUTPUT}" "${PROGRAM}"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
if(NOT result EQUAL 0 OR NOT EXISTS "${OUTPUT}")
  message(WARNING "no man page for ${PROGRAM}: help2man said ${result} ${err}")
  file(REMOVE "${OUTPUT}")
  return()
endif()
execute_process(COMMAND gzip -9nf "${OUTPUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(WARNING "cannot compress ${OUTPUT}")
endif()
