# Compile options shared by every target: C++17, warnings as errors, and text literals turned from the
# UTF-8 sources into code page 932 bytes, the encoding the updater shows and compares.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

option(UPDATER_SANITIZE "Build native code with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
set(UPDATER_ARCHIVE "" CACHE FILEPATH "Archive embedded as the program's \"UPDATE\" resource (none: the program ends at once)")
option(UPDATER_WINDOWS_BUILD "Also build the Windows programs with mingw-w64 and run their tests under Wine" ON)

add_compile_options(-Wall -Wextra -Werror -Wshadow -Wno-missing-field-initializers)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-finput-charset=UTF-8 -fexec-charset=CP932)
endif()
if(UPDATER_SANITIZE AND NOT WIN32)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The updater's own code: no exceptions, no run-time type information, small.
function(updater_product_target target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  if(WIN32)
    # No -fdata-sections: mingw's GCC then puts zero-filled objects (the state record) into .data, where
    # they take their full size in the file.
    target_compile_options(${target} PRIVATE -Os -ffunction-sections)
    # Nothing unwinds the 32-bit updater's frames (no exceptions): its unwind tables were a seventh of
    # the program. 64-bit Windows walks stacks by them, so that build keeps them.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables)
    endif()
  endif()
endfunction()
