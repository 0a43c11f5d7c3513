# Finds OpenImageIO once for the whole tree.
#
# Debian's OpenImageIO package lists /usr/include/opencv4 among the include
# folders of its imported target, because the library was built with its
# OpenCV interop enabled. That folder only exists once OpenCV's development
# files are installed, and CMake refuses to generate for a target that names
# a missing folder. We never use the interop, so the OpenCV folder is dropped
# from the target's interface whether or not it exists (the compile lines are
# then the same on a machine with and without OpenCV), and so is any other
# listed folder that does not exist.
find_package(OpenImageIO CONFIG REQUIRED)

function(ombrix_prune_include_dirs target)
  foreach(property INTERFACE_INCLUDE_DIRECTORIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES)
    get_target_property(dirs ${target} ${property})
    if(NOT dirs)
      continue()
    endif()
    set(kept "")
    foreach(dir IN LISTS dirs)
      if(dir MATCHES "/opencv[0-9]*$" OR NOT IS_DIRECTORY "${dir}")
        if(property STREQUAL "INTERFACE_INCLUDE_DIRECTORIES")
          message(STATUS "${target}: leaving out include folder ${dir}")
        endif()
      else()
        list(APPEND kept "${dir}")
      endif()
    endforeach()
    set_target_properties(${target} PROPERTIES ${property} "${kept}")
  endforeach()
endfunction()

foreach(target OpenImageIO::OpenImageIO OpenImageIO::OpenImageIO_Util)
  if(TARGET ${target})
    ombrix_prune_include_dirs(${target})
  endif()
endforeach()
