# Makes a shared library an "io" module: libio.so on Linux, io.dll on Windows,
# in the given folder. On Windows the __stdcall entry points are exported
# undecorated (PortOut, not PortOut@8), as the port-I/O libraries that users
# install export them, and the runtime is linked in.
function(flashlock_io_module target output_dir)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME io
    LIBRARY_OUTPUT_DIRECTORY ${output_dir}
    RUNTIME_OUTPUT_DIRECTORY ${output_dir}
    # On Windows each module's import library (libio.dll.a) beside it: in one
    # shared folder the modules of a build would overwrite each other's.
    ARCHIVE_OUTPUT_DIRECTORY ${output_dir}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "")
    target_link_options(${target} PRIVATE -Wl,--kill-at -static)
  endif()
endfunction()

# Where a test finds the io module of a folder: the loader's search path.
function(flashlock_module_path_environment out_var dir)
  if(WIN32)
    set(${out_var} "WINEPATH=${dir}" PARENT_SCOPE)
  else()
    set(${out_var} "LD_LIBRARY_PATH=${dir}" PARENT_SCOPE)
  endif()
endfunction()
