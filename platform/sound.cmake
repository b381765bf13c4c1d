# The media player control and its sound engine. The engine (SDL2 audio,
# libsndfile files, no widgets) is a library of its own so that its tests and
# benchmarks need no window system.
find_package(Threads REQUIRED)
add_library(platform_sound STATIC
  ${CMAKE_CURRENT_LIST_DIR}/FileSystem.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SoundFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AudioDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SoundEngine.cpp
)
target_include_directories(platform_sound PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(platform_sound
  PUBLIC platform_core Threads::Threads
  PRIVATE Qt6::Core PkgConfig::SNDFILE)
# SDL2 is loaded at run time, on first use (see AudioDevice.cpp): only its
# headers are needed here.
target_include_directories(platform_sound PRIVATE $<TARGET_PROPERTY:SDL2::SDL2,INTERFACE_INCLUDE_DIRECTORIES>)

target_sources(platform PRIVATE
  MPlayer.cpp
)
target_link_libraries(platform PRIVATE platform_sound)
