# RtMidi built from its source folder (RtMidi.cpp, RtMidi.h) as a static library
# with the back end of the target system: WinMM on Windows, CoreMIDI on macOS,
# ALSA on Linux. It stands in for the system's library under the same target
# name, and its header is reachable as <rtmidi/RtMidi.h> as the installed one is.
set(_rtmidi_dir ${QUORVANE_RTMIDI_SOURCE_DIR})
if(NOT EXISTS ${_rtmidi_dir}/RtMidi.cpp OR NOT EXISTS ${_rtmidi_dir}/RtMidi.h)
  message(FATAL_ERROR "QUORVANE_RTMIDI_SOURCE_DIR=${_rtmidi_dir} holds no RtMidi.cpp and RtMidi.h")
endif()
set(_rtmidi_include ${CMAKE_BINARY_DIR}/rtmidi-include)
configure_file(${_rtmidi_dir}/RtMidi.h ${_rtmidi_include}/rtmidi/RtMidi.h COPYONLY)

add_library(quorvane_rtmidi STATIC ${_rtmidi_dir}/RtMidi.cpp)
target_include_directories(quorvane_rtmidi PUBLIC ${_rtmidi_include} PRIVATE ${_rtmidi_dir})
# Someone else's code: its warnings are not ours to fix.
target_compile_options(quorvane_rtmidi PRIVATE -w)
if(WIN32)
  target_compile_definitions(quorvane_rtmidi PRIVATE __WINDOWS_MM__)
  target_link_libraries(quorvane_rtmidi PUBLIC winmm)
elseif(APPLE)
  target_compile_definitions(quorvane_rtmidi PRIVATE __MACOSX_CORE__)
  target_link_libraries(quorvane_rtmidi PUBLIC "-framework CoreMIDI" "-framework CoreAudio" "-framework CoreFoundation")
else()
  find_package(ALSA REQUIRED)
  target_compile_definitions(quorvane_rtmidi PRIVATE __LINUX_ALSA__)
  target_link_libraries(quorvane_rtmidi PUBLIC ALSA::ALSA Threads::Threads)
endif()
add_library(PkgConfig::RTMIDI ALIAS quorvane_rtmidi)
