# Runs Doxygen over the public header with the reference's settings (DOXYFILE).
#
#   CHECK=clean  the header as it is must render without a single warning.
#   CHECK=gaps   copies of the header, each with one gap a change could bring in, must each
#                fail the run with a warning that names the gap; this keeps the settings
#                strict enough that a new export cannot land undocumented.
#
# cmake -DDOXYGEN=... -DDOXYFILE=... -DHEADER=... -DWORK=... -DCHECK=clean|gaps -P CheckReference.cmake

foreach(var DOXYGEN DOXYFILE HEADER WORK CHECK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "CheckReference.cmake needs -D${var}=...")
  endif()
endforeach()

# Renders `header` into `dir` with the reference's settings; sets `rc` and `log` (the
# warnings) in the caller.
function(render header dir)
  file(REMOVE_RECURSE "${dir}")
  file(MAKE_DIRECTORY "${dir}")
  file(WRITE "${dir}/Doxyfile"
    "@INCLUDE = \"${DOXYFILE}\"\nINPUT = \"${header}\"\nOUTPUT_DIRECTORY = \"${dir}\"\n")
  execute_process(COMMAND "${DOXYGEN}" "${dir}/Doxyfile"
    WORKING_DIRECTORY "${dir}"
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(rc "${result}" PARENT_SCOPE)
  set(log "${out}${err}" PARENT_SCOPE)
endfunction()

file(READ "${HEADER}" original)

if(CHECK STREQUAL "clean")
  render("${HEADER}" "${WORK}/clean")
  string(STRIP "${log}" log)
  if(NOT rc EQUAL 0 OR NOT log STREQUAL "")
    message(FATAL_ERROR "The reference of ${HEADER} has warnings (exit ${rc}):\n${log}")
  endif()
  if(NOT EXISTS "${WORK}/clean/html/index.html")
    message(FATAL_ERROR "Doxygen wrote no ${WORK}/clean/html/index.html")
  endif()
  message(STATUS "Reference rendered without warnings: ${WORK}/clean/html/index.html")
  return()
endif()

if(NOT CHECK STREQUAL "gaps")
  message(FATAL_ERROR "Unknown CHECK '${CHECK}': clean or gaps")
endif()

# The gaps. Each is made from a piece of the header that must be there; when the header no
# longer has it, the case has to be brought up to date, so that fails too.
set(failures "")

# Cuts the doc comment right before the prototype of `export`.
function(without_comment text export out)
  string(FIND "${text}" "NURVA_CALL ${export}(" at)
  if(at EQUAL -1)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  string(SUBSTRING "${text}" 0 ${at} head)
  string(FIND "${head}" "/**" start REVERSE)
  string(FIND "${head}" "*/" end REVERSE)
  if(start EQUAL -1 OR end LESS start)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  math(EXPR after "${end} + 2")
  string(SUBSTRING "${text}" 0 ${start} before)
  string(SUBSTRING "${text}" ${after} -1 rest)
  set(${out} "${before}${rest}" PARENT_SCOPE)
endfunction()

# Replaces `from` by `to`; empty when `from` is not in the text.
function(replaced text from to out)
  string(FIND "${text}" "${from}" at)
  if(at EQUAL -1)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  string(REPLACE "${from}" "${to}" result "${text}")
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# case name | what the warning must name
set(cases
  "new_export|NewExport"
  "export_comment_removed|GetFileState"
  "parameter_undocumented|selfuse"
  "parameter_misnamed|ChipAdr"
  "return_undocumented|AbortAll"
  "reference_broken|channel_answerz")

foreach(entry IN LISTS cases)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 expected)

  if(name STREQUAL "new_export")
    replaced("${original}" "\n#ifdef __cplusplus\n}"
      "\nNURVA_API void NURVA_CALL NewExport(int32_t channel, int32_t* res, char* text);\n\n#ifdef __cplusplus\n}"
      gap)
  elseif(name STREQUAL "export_comment_removed")
    without_comment("${original}" "GetFileState" gap)
  elseif(name STREQUAL "parameter_undocumented")
    # The first line of the parameter's entry; its continuation joins the entry before it.
    string(REGEX REPLACE "\n \\* @param selfuse [^\n]*" "" gap "${original}")
    if(gap STREQUAL original)
      set(gap "")
    endif()
  elseif(name STREQUAL "parameter_misnamed")
    replaced("${original}" "@param ChipAddr" "@param ChipAdr" gap)
  elseif(name STREQUAL "return_undocumented")
    replaced("${original}" "@return" "@note" gap)
  elseif(name STREQUAL "reference_broken")
    replaced("${original}" "@ref channel_answers" "@ref channel_answerz" gap)
  endif()

  if(gap STREQUAL "")
    list(APPEND failures "${name}: the header no longer has the piece this case changes")
    continue()
  endif()
  set(dir "${WORK}/gaps/${name}")
  file(MAKE_DIRECTORY "${dir}")
  file(WRITE "${dir}/NURVA_DLL.h" "${gap}")
  render("${dir}/NURVA_DLL.h" "${dir}/out")
  if(rc EQUAL 0)
    list(APPEND failures "${name}: Doxygen passed a header with this gap")
  elseif(NOT log MATCHES "${expected}")
    list(APPEND failures "${name}: Doxygen failed, but no warning names ${expected}:\n${log}")
  else()
    message(STATUS "${name}: refused, as it must be")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "The reference settings let gaps through:\n${text}")
endif()
