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
        "addon_log.cpp", "conversions.cpp", "driver_print.cpp", "driver_printer.cpp",
        "job_tracking.cpp", "receipt_markup.cpp", "usb_printer.cpp",
        "../platform/codepage_common.cpp", "../platform/codepage_win.cpp",
        "../platform/files_win.cpp", "../platform/local_time_win.cpp",
        "../platform/message_box_win.cpp", "../platform/named_lock_win.cpp",
        "../platform/process_common.cpp", "../platform/process_win.cpp",
        "../platform/profile_win.cpp", "../platform/shell_win.cpp",
        "../platform/spooler_win.cpp", "../platform/system_info_win.cpp",
        "../platform/usb_devices_win.cpp"
      ],
      "include_dirs": [".", "../platform"],
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
