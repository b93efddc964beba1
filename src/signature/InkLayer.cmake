# The signature's pictures: the stroke model, Anti-Grain Geometry's rasteriser, the PNG and SVG
# writers. A layer of its own so that its tests and benchmarks link nothing else of the
# signature library. AGG comes from Debian's libagg-dev on Linux and from the build that
# scripts/windows-deps.sh makes for mingw (its prefix in ZEL_WIN_PREFIXES). What the renderer
# uses of AGG are class templates in its headers; the static library, where there is one, is
# linked for anything compiled in it.
find_path(ZEL_AGG_INCLUDE_DIR agg_rasterizer_scanline_aa.h PATH_SUFFIXES agg2 REQUIRED)
find_library(ZEL_AGG_LIBRARY NAMES agg_pic agg)

zel_add_layer(zel_ink)
target_sources(zel_ink PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/InkRasteriser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PngWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Renderer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StrokeModel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SvgWriter.cpp)
# AGG's headers are not ours to keep free of warnings.
target_include_directories(zel_ink SYSTEM PRIVATE ${ZEL_AGG_INCLUDE_DIR})
target_link_libraries(zel_ink PRIVATE ZLIB::ZLIB)
if(ZEL_AGG_LIBRARY)
  target_link_libraries(zel_ink PRIVATE ${ZEL_AGG_LIBRARY})
endif()
