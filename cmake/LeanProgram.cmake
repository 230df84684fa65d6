# What the Windows program is compiled and linked with beyond the build type: it carries a 128 KiB
# firmware slot, and everything else in it should be its own code. The program throws nothing,
# catches nothing and reports failures as plain flags, so exception support, unwinding tables and
# the code they pull from the C++ runtime (the exception classes, the name demangler of the
# terminate handler, the unwinder) are left out. Applied to the program and to every static
# library it links, in the shipped i686 build and in the x86_64 test build alike, so that the
# end-to-end tests run the code we ship.

set(FLASHUPGRADE_LEAN_COMPILE_OPTIONS -fno-exceptions -ffunction-sections -fdata-sections)
# On x86_64 the unwinding tables are part of the calling convention (the system walks them),
# on i686 they serve only C++ exceptions.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  list(APPEND FLASHUPGRADE_LEAN_COMPILE_OPTIONS -fno-asynchronous-unwind-tables -fno-unwind-tables)
endif()

# Static and object libraries that TARGET links, directly or through each other, into OUT.
function(flashupgrade_linked_libraries target out)
  set(seen "")
  set(pending ${target})
  while(pending)
    list(POP_FRONT pending current)
    get_target_property(links ${current} LINK_LIBRARIES)
    if(NOT links)
      continue()
    endif()
    foreach(link IN LISTS links)
      if(TARGET ${link} AND NOT link IN_LIST seen)
        get_target_property(type ${link} TYPE)
        if(type STREQUAL "STATIC_LIBRARY" OR type STREQUAL "OBJECT_LIBRARY")
          list(APPEND seen ${link})
          list(APPEND pending ${link})
        endif()
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# The runtime pieces such a program still uses, in lean form (platform/win32/LeanRuntime.cpp,
# MsvcrtFormatting.cpp). Objects, not an archive: they must take the place of the runtime's own
# wherever in the link the first call to them comes.
function(flashupgrade_lean_runtime)
  if(NOT TARGET lean_runtime_win32)
    add_library(lean_runtime_win32 OBJECT
      ${CMAKE_SOURCE_DIR}/platform/win32/LeanRuntime.cpp
      ${CMAKE_SOURCE_DIR}/platform/win32/MsvcrtFormatting.cpp)
    target_compile_options(lean_runtime_win32 PRIVATE ${FLASHUPGRADE_LEAN_COMPILE_OPTIONS})
    flashupgrade_warnings(lean_runtime_win32)
  endif()
endfunction()

# flashupgrade_lean_program(TARGET): TARGET linked with the lean runtime; the options above for
# TARGET and its static libraries; a link that drops every section nothing refers to. A source
# of those libraries that TARGET never links (the headless window backend of the tests throws on
# a wrong control id) keeps its exceptions through its own COMPILE_OPTIONS, which come after these.
function(flashupgrade_lean_program target)
  flashupgrade_lean_runtime()
  target_link_libraries(${target} PRIVATE lean_runtime_win32)
  flashupgrade_linked_libraries(${target} libraries)
  foreach(t IN ITEMS ${target} ${libraries})
    target_compile_options(${t} PRIVATE ${FLASHUPGRADE_LEAN_COMPILE_OPTIONS})
  endforeach()
  target_link_options(${target} PRIVATE -Wl,--gc-sections)
  if(FLASHUPGRADE_LINK_MAP)
    target_link_options(${target} PRIVATE -Wl,-Map,$<TARGET_FILE:${target}>.map)
  endif()
endfunction()
