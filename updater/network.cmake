# The updater's network side: libcurl (plain HTTP) and cJSON, and the addresses
# of the two services it talks to.

set(ORVANE_UPGRADE_PRODUCTION_URL "http://upgrade.orvane.invalid/upgrade" CACHE STRING
    "Production upgrade endpoint, a whole plain-HTTP address ending in /upgrade")
set(ORVANE_UPGRADE_TESTING_URL "http://upgrade-testing.orvane.invalid/upgrade" CACHE STRING
    "Testing upgrade endpoint, used when orvane.ini says ENV=testing")
set(ORVANE_REPORT_HOST "stats.orvane.invalid" CACHE STRING
    "Host of the launch-statistics service, optionally with :port")
set(ORVANE_INSTALLER_PUBLISHER "" CACHE STRING
    "SHA-256 of the installer signer's public key (DER SubjectPublicKeyInfo), 64 hex digits; several separated by ; while a key is rolled over. Empty: installers are checked by their MD5 digest only")

# The pins as the program reads them: lower case, separated by commas (a
# semicolon would split the compile definition).
function(orvane_publisher_pins out value)
  set(pins)
  foreach(pin IN LISTS value)
    string(STRIP "${pin}" pin)
    if(pin STREQUAL "")
      continue()
    endif()
    string(TOLOWER "${pin}" pin)
    string(LENGTH "${pin}" length)
    if(NOT length EQUAL 64 OR NOT pin MATCHES "^[0-9a-f]+$")
      message(FATAL_ERROR "ORVANE_INSTALLER_PUBLISHER: \"${pin}\" is not 64 hexadecimal digits "
                          "(the SHA-256 of the signing certificate's public key)")
    endif()
    list(APPEND pins ${pin})
  endforeach()
  list(JOIN pins "," joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

if(WIN32)
  # Debian ships neither library for MinGW: both are cross-built once from
  # Debian's source packages into <build>/deps and reused from there.
  set(orvane_deps ${CMAKE_BINARY_DIR}/deps)
  set(orvane_deps_prefix ${orvane_deps}/install)

  function(orvane_cross_build package)
    # The stamp holds the options it was built with; other options build it again.
    set(stamp ${orvane_deps_prefix}/.${package}-built)
    if(EXISTS ${stamp})
      file(READ ${stamp} built_with)
      if(built_with STREQUAL "${ARGN}")
        return()
      endif()
    endif()
    message(STATUS "Cross-building ${package} for ${CMAKE_SYSTEM_PROCESSOR} (once per build folder)")
    set(src_root ${orvane_deps}/src/${package})
    file(REMOVE_RECURSE ${src_root} ${orvane_deps}/build/${package})
    file(MAKE_DIRECTORY ${src_root})
    execute_process(COMMAND apt-get source -qq ${package}
                    WORKING_DIRECTORY ${src_root} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    file(GLOB src_dir LIST_DIRECTORIES true ${src_root}/${package}-*)
    list(FILTER src_dir EXCLUDE REGEX "\\.(tar|dsc|asc|gz|xz|bz2)")
    if(NOT rc EQUAL 0 OR NOT src_dir)
      message(FATAL_ERROR "apt-get source ${package} failed (is a deb-src line enabled? "
                          "scripts/install-deps.sh adds one):\n${err}")
    endif()
    execute_process(
      COMMAND ${CMAKE_COMMAND} -S ${src_dir} -B ${orvane_deps}/build/${package} -G "Unix Makefiles"
              -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
              -DCMAKE_INSTALL_PREFIX=${orvane_deps_prefix} ${ARGN}
      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "Configuring ${package} for ${CMAKE_SYSTEM_PROCESSOR} failed:\n${out}")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${orvane_deps}/build/${package} --target install -j2
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "Building ${package} for ${CMAKE_SYSTEM_PROCESSOR} failed:\n${out}")
    endif()
    file(WRITE ${stamp} "${ARGN}")
  endfunction()

  # HTTP and nothing else: no TLS, compression, name libraries or other protocols.
  orvane_cross_build(curl
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DHTTP_ONLY=ON
    -DCURL_ENABLE_SSL=OFF -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF
    -DCURL_USE_LIBPSL=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_DISABLE_LDAP=ON -DCURL_WINDOWS_SSPI=OFF
    -DENABLE_MANUAL=OFF)
  # Without cJSON's own flags, whose stack protector would need MinGW's libssp.
  orvane_cross_build(cjson -DBUILD_SHARED_LIBS=OFF -DENABLE_CJSON_TEST=OFF -DENABLE_CUSTOM_COMPILER_FLAGS=OFF)

  # Found by their own package files, outside the toolchain's search root.
  set(CURL_DIR ${orvane_deps_prefix}/lib/cmake/CURL)
  set(cJSON_DIR ${orvane_deps_prefix}/lib/cmake/cJSON)
  find_package(CURL CONFIG REQUIRED)
  find_package(cJSON CONFIG REQUIRED)
else()
  find_package(CURL REQUIRED)
  find_package(cJSON CONFIG REQUIRED)
endif()

target_include_directories(orvane_updater_core PRIVATE ${CJSON_INCLUDE_DIRS})
target_link_libraries(orvane_updater_core PUBLIC CURL::libcurl cjson)

# orvane_updater_services(name production testing report_host pins): the
# services' addresses and the installer's publisher pins one updater program is
# built with, as objects of their own. The core library holds neither, so every
# program that links it names its set and no link order decides which.
function(orvane_updater_services name production testing report_host pins)
  add_library(${name} OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/endpoints.cpp ${CMAKE_CURRENT_SOURCE_DIR}/publisher_pins.cpp)
  target_link_libraries(${name} PRIVATE orvane_platform_signature)
  target_compile_definitions(${name} PRIVATE
    ORVANE_UPGRADE_PRODUCTION_URL="${production}"
    ORVANE_UPGRADE_TESTING_URL="${testing}"
    ORVANE_REPORT_HOST="${report_host}"
    ORVANE_INSTALLER_PUBLISHER="${pins}")
endfunction()

# The shipped updater's.
orvane_publisher_pins(product_pins "${ORVANE_INSTALLER_PUBLISHER}")
orvane_updater_services(orvane_updater_services
  "${ORVANE_UPGRADE_PRODUCTION_URL}" "${ORVANE_UPGRADE_TESTING_URL}" "${ORVANE_REPORT_HOST}" "${product_pins}")

# The tests' updater: the same program with every endpoint on the loopback
# interface, so no test can reach a real service. Its port is fixed per build
# folder; the end-to-end tests serve it there. It keeps the name
# orvane_updater, which the installation step ends by name, in a folder of its own.
if(ORVANE_TESTS)
  string(MD5 build_hash "${CMAKE_BINARY_DIR}")
  string(SUBSTRING "${build_hash}" 0 4 build_hash)
  math(EXPR default_port "0x${build_hash} % 10000 + 20000")
  set(ORVANE_TEST_SERVICE_PORT ${default_port} CACHE STRING
      "Loopback port of the services the tests' updater talks to")
  set(loopback "127.0.0.1:${ORVANE_TEST_SERVICE_PORT}")

  # Two publisher settings for the tests: none (whatever the product build
  # pins), and two keys as during a roll-over. The keys are made once per
  # build folder, since the pins are compiled in; the tests make their
  # certificates and sign installers with them when they run.
  find_program(ORVANE_OPENSSL openssl REQUIRED)
  set(publishers ${CMAKE_BINARY_DIR}/test_publishers)
  set(test_pins)
  foreach(name old new)
    set(key ${publishers}/${name}.key)
    if(NOT EXISTS ${key})
      file(MAKE_DIRECTORY ${publishers})
      execute_process(COMMAND ${ORVANE_OPENSSL} genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out ${key}
                      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR "Making the test publisher key ${key} failed:\n${err}")
      endif()
    endif()
    execute_process(COMMAND ${ORVANE_OPENSSL} pkey -in ${key} -pubout -outform DER -out ${publishers}/${name}.spki
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "Reading the public key of ${key} failed:\n${err}")
    endif()
    file(SHA256 ${publishers}/${name}.spki pin)
    list(APPEND test_pins ${pin})
  endforeach()
  orvane_publisher_pins(test_pins "${test_pins}")

  # orvane_updater_loopback_services also serves the unit tests and benchmarks
  # that link the core library.
  foreach(variant loopback pinned)
    set(pins "")
    if(variant STREQUAL "pinned")
      set(pins "${test_pins}")
    endif()
    orvane_updater_services(orvane_updater_${variant}_services
      "http://${loopback}/upgrade" "http://${loopback}/testing/upgrade" "${loopback}" "${pins}")

    set(sources main.cpp)
    if(WIN32)
      list(APPEND sources updater.rc)
    endif()
    add_executable(orvane_updater_${variant} ${sources})
    target_link_libraries(orvane_updater_${variant} PRIVATE orvane_updater_${variant}_services orvane_updater_core
                          orvane_entry)
    set_target_properties(orvane_updater_${variant} PROPERTIES
      OUTPUT_NAME orvane_updater RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${variant})
  endforeach()
endif()
