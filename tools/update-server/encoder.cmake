# The gzip encoder and its DEFLATE core as a library of their own: the update
# server links them, and so does the zip writer, which the Windows build
# compiles on its own with the host compiler.
if(TARGET tv_gzip_encoder)
  return()
endif()
set(_tv_encoder_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(tv_gzip_encoder STATIC
  ${_tv_encoder_dir}/gzip_encoder.cpp
  ${_tv_encoder_dir}/deflate/block_splitter.cpp
  ${_tv_encoder_dir}/deflate/block_writer.cpp
  ${_tv_encoder_dir}/deflate/deflate_encoder.cpp
  ${_tv_encoder_dir}/deflate/huffman.cpp
  ${_tv_encoder_dir}/deflate/log2_fixed.cpp
  ${_tv_encoder_dir}/deflate/match_finder.cpp
  ${_tv_encoder_dir}/deflate/optimal_parser.cpp)
target_include_directories(tv_gzip_encoder PUBLIC ${_tv_encoder_dir})
