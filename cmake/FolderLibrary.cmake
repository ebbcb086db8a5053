# SPDX-License-Identifier: GPL-3.0-or-later
# One library per folder, named after the folder. Its headers are reached as "<folder>/Name.h" only by what
# links it: the folder's include root is a link in the build tree, given to the library and to those that
# link it. An include of a higher folder from a lower one therefore does not compile.
#
# zorbinka_folder_library(SOURCES file... [PUBLIC lib...] [PRIVATE lib...])
function(zorbinka_folder_library)
    cmake_parse_arguments(L "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    add_library(${folder} STATIC ${L_SOURCES})
    set(root ${CMAKE_BINARY_DIR}/include/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
    target_include_directories(${folder} PUBLIC ${root})
    target_link_libraries(${folder} PUBLIC ${L_PUBLIC} PRIVATE ${L_PRIVATE})
endfunction()
