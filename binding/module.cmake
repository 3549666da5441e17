# The add-on as the script runtime loads it: binding.node, built against the
# headers of the installed Node.js (no download, no node-gyp). The Windows
# build for the client's own runtime is described in the README.
#
# Natively (no sanitizer) it also lays out an installation folder,
# <build>/install, as the product is installed: the launcher, the updater, the
# stand-in client Orvane (a Node.js single-executable application hosting the
# add-on) and binding.node side by side, with the add-on's log folder.
if(WIN32)
  return()
endif()

set(ORVANE_NODE_INCLUDE /usr/include/node CACHE PATH "Headers of the Node.js runtime the add-on is built for")
if(NOT EXISTS ${ORVANE_NODE_INCLUDE}/node.h)
  message(WARNING "No Node.js headers in ${ORVANE_NODE_INCLUDE}: the add-on module is not built")
  return()
endif()

# orvane_add_node_addon(name sources...): a library the runtime can load with
# `require`/`process.dlopen`. Symbols the runtime provides stay undefined until
# it loads the library; the library exports only its registration symbols.
file(WRITE ${CMAKE_BINARY_DIR}/node_addon.exports
     "{\n  global: _register_binding_; node_register_module_v*;\n  local: *;\n};\n")
function(orvane_add_node_addon name)
  set(exports ${CMAKE_BINARY_DIR}/node_addon.exports)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".node"
                        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${name} SYSTEM PRIVATE ${ORVANE_NODE_INCLUDE})
  # The module record names its source by its path in the tree.
  target_compile_options(${name} PRIVATE -fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=)
  target_link_options(${name} PRIVATE -Wl,--version-script=${exports})
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${exports})
endfunction()

orvane_add_node_addon(binding ${CMAKE_CURRENT_SOURCE_DIR}/binding.cpp ${CMAKE_CURRENT_SOURCE_DIR}/async_print.cpp)
target_include_directories(binding PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(binding PRIVATE orvane_binding_core)

if(ORVANE_SANITIZE)
  return()
endif()

# The installation folder with the Node-hosted stand-in client.
find_program(ORVANE_NODE node REQUIRED)
find_program(ORVANE_NPM npm REQUIRED)
set(install_dir ${CMAKE_BINARY_DIR}/install)
set(client_dir ${CMAKE_SOURCE_DIR}/client/node)
set(sea_dir ${CMAKE_BINARY_DIR}/sea)
# postject writes the script into a copy of the runtime; its package is
# fetched once into the build folder.
set(postject_cli ${CMAKE_BINARY_DIR}/npm/node_modules/postject/dist/cli.js)
add_custom_command(
  OUTPUT ${postject_cli}
  COMMAND ${ORVANE_NPM} install --prefix ${CMAKE_BINARY_DIR}/npm --no-audit --no-fund --loglevel=error
          postject@1.0.0-alpha.6
  COMMENT "Fetching postject from npm")
add_custom_command(
  OUTPUT ${sea_dir}/Orvane
  COMMAND ${CMAKE_COMMAND} -DNODE=${ORVANE_NODE} -DPOSTJECT=${postject_cli} -DMAIN=${client_dir}/main.js
          -DWORK=${sea_dir} -P ${client_dir}/sea.cmake
  DEPENDS ${client_dir}/main.js ${client_dir}/sea.cmake ${postject_cli} ${ORVANE_NODE}
  COMMENT "Building the stand-in client Orvane (Node.js single executable)")

set(installed $<TARGET_FILE:binding> $<TARGET_FILE:orvane_launcher>)
if(TARGET orvane_updater)
  list(APPEND installed $<TARGET_FILE:orvane_updater>)
endif()
add_custom_target(orvane_install_folder ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${install_dir}/log
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${installed} ${sea_dir}/Orvane ${install_dir}/
  DEPENDS ${sea_dir}/Orvane
  COMMENT "Installation folder ${install_dir}")
add_dependencies(orvane_install_folder binding orvane_launcher)
if(TARGET orvane_updater)
  add_dependencies(orvane_install_folder orvane_updater)
endif()
