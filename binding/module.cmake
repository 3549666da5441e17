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

# ORVANE_NODE_PACKAGE names a folder holding package.json and package-lock.json
# of a Node.js runtime package (binding/runtime47 for generation 47); it is
# fetched with npm into <build>/runtime once, its integrity checked against the
# lockfile, and the add-on is built against its headers and tested in it.
set(ORVANE_NODE_PACKAGE "" CACHE PATH "npm package folder of the Node.js runtime to build the add-on for; empty for the installed one")
set(ORVANE_NODE_INCLUDE /usr/include/node CACHE PATH "Headers of the installed Node.js runtime")
find_program(ORVANE_NODE node)
find_program(ORVANE_NPM npm)
set(addon_include ${ORVANE_NODE_INCLUDE})
set(addon_runtime ${ORVANE_NODE})
if(ORVANE_NODE_PACKAGE)
  set(runtime_dir ${CMAKE_BINARY_DIR}/runtime)
  file(SHA256 ${ORVANE_NODE_PACKAGE}/package-lock.json wanted_lock)
  set(fetched_lock "")
  if(EXISTS ${runtime_dir}/package-lock.json)
    file(SHA256 ${runtime_dir}/package-lock.json fetched_lock)
  endif()
  file(GLOB fetched_header ${runtime_dir}/node_modules/*/include/node/node.h)
  if(NOT fetched_header OR NOT fetched_lock STREQUAL wanted_lock)
    if(NOT ORVANE_NPM)
      message(FATAL_ERROR "npm is needed to fetch the runtime of ${ORVANE_NODE_PACKAGE}")
    endif()
    file(REMOVE_RECURSE ${runtime_dir})
    file(COPY ${ORVANE_NODE_PACKAGE}/package.json ${ORVANE_NODE_PACKAGE}/package-lock.json DESTINATION ${runtime_dir})
    message(STATUS "Fetching the Node.js runtime of ${ORVANE_NODE_PACKAGE} with npm")
    execute_process(COMMAND ${ORVANE_NPM} ci --no-audit --no-fund --loglevel=error
                    WORKING_DIRECTORY ${runtime_dir} RESULT_VARIABLE fetched)
    file(GLOB fetched_header ${runtime_dir}/node_modules/*/include/node/node.h)
    if(NOT fetched EQUAL 0 OR NOT fetched_header)
      message(FATAL_ERROR "npm could not fetch the runtime of ${ORVANE_NODE_PACKAGE} into ${runtime_dir}")
    endif()
  endif()
  get_filename_component(addon_include ${fetched_header} DIRECTORY)
  get_filename_component(addon_runtime ${addon_include}/../../bin/node ABSOLUTE)
endif()
if(NOT EXISTS ${addon_include}/node.h)
  message(WARNING "No Node.js headers in ${addon_include}: the add-on module is not built")
  return()
endif()
file(STRINGS ${addon_include}/node_version.h module_version_line REGEX "^#define NODE_MODULE_VERSION [0-9]+")
string(REGEX MATCH "[0-9]+" ORVANE_NODE_MODULE_VERSION "${module_version_line}")
# Functions called from other folders see it through the cache.
set(ORVANE_ADDON_INCLUDE ${addon_include} CACHE INTERNAL "Headers the add-on modules are built against")
message(STATUS "Add-on built for module generation ${ORVANE_NODE_MODULE_VERSION} (${addon_include})")
# Which runtime the suites host this build's binding.node in.
file(WRITE ${CMAKE_BINARY_DIR}/addon-runtime.json
     "{ \"modules\": \"${ORVANE_NODE_MODULE_VERSION}\", \"executable\": \"${addon_runtime}\" }\n")

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
  target_include_directories(${name} SYSTEM PRIVATE ${ORVANE_ADDON_INCLUDE})
  # The module record names its source by its path in the tree.
  target_compile_options(${name} PRIVATE -fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=)
  target_link_options(${name} PRIVATE -Wl,--version-script=${exports})
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${exports})
endfunction()

orvane_add_node_addon(binding ${CMAKE_CURRENT_SOURCE_DIR}/binding.cpp)
target_link_libraries(binding PRIVATE orvane_binding_core)

# The stand-in client is a current-Node.js program; sanitizer builds have none.
if(ORVANE_SANITIZE OR ORVANE_NODE_PACKAGE)
  return()
endif()

# The installation folder with the Node-hosted stand-in client.
if(NOT ORVANE_NODE OR NOT ORVANE_NPM)
  message(FATAL_ERROR "node and npm are needed for the stand-in client")
endif()
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

set(installed $<TARGET_FILE:binding> $<TARGET_FILE:orvane_launcher> $<TARGET_FILE:orvane_updater>)
add_custom_target(orvane_install_folder ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${install_dir}/log
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${installed} ${sea_dir}/Orvane ${install_dir}/
  DEPENDS ${sea_dir}/Orvane
  COMMENT "Installation folder ${install_dir}")
add_dependencies(orvane_install_folder binding orvane_launcher orvane_updater)
