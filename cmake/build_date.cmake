# The build date in the form of the compiler's __DATE__ ("Mar  6 2023": month
# abbreviation, day right-aligned in two characters, year). string(TIMESTAMP)
# follows SOURCE_DATE_EPOCH when it is set.
function(talvorn_build_date out)
  string(TIMESTAMP month "%b" UTC)
  string(TIMESTAMP day "%d" UTC)
  string(TIMESTAMP year "%Y" UTC)
  string(REGEX REPLACE "^0" " " day "${day}")
  set(${out} "${month} ${day} ${year}" PARENT_SCOPE)
endfunction()
