# The add-on for the client's own runtime on Windows, built by that runtime's
# add-on build tool (nw-gyp for NW.js, node-gyp for Node.js), 32-bit:
#   nw-gyp rebuild --target=<NW.js version> --arch=ia32
# run in this folder. See the README ("Deploying the print add-on") for what
# was and was not verified.
{
  "targets": [
    {
      "target_name": "binding",
      "sources": [
        "binding.cpp", "async_print.cpp",
        "addon_log.cpp", "conversions.cpp", "driver_settings.cpp", "spooler_route.cpp",
        "job_tracking.cpp", "receipt_markup.cpp", "spooler_status.cpp", "usb_printer.cpp",
        "../platform/codepage_common.cpp", "../platform/win/codepage.cpp",
        "../platform/win/files.cpp", "../platform/win/local_time.cpp",
        "../platform/win/message_box.cpp", "../platform/win/named_lock.cpp",
        "../platform/process_common.cpp", "../platform/win/process.cpp", "../platform/win/process_exit.cpp",
        "../platform/win/profile.cpp", "../platform/win/shell.cpp",
        "../platform/win/spooler.cpp", "../platform/win/system_info.cpp",
        "../platform/win/usb_devices.cpp"
      ],
      "include_dirs": [".."],
      "defines": ["UNICODE", "_UNICODE", "WIN32_LEAN_AND_MEAN", "NOMINMAX", "_WIN32_WINNT=0x0601"],
      "libraries": [
        "winspool.lib", "gdi32.lib", "setupapi.lib", "shell32.lib", "shlwapi.lib",
        "ole32.lib", "iphlpapi.lib", "ws2_32.lib", "user32.lib", "advapi32.lib"
      ],
      "msvs_settings": {
        "VCCLCompilerTool": {
          "AdditionalOptions": ["/std:c++20", "/utf-8", "/EHsc"]
        }
      }
    }
  ]
}
