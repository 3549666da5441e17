// The add-on's module entry: registration with the script runtime and the
// script functions. Each function is a thin adapter: it checks the argument
// count, converts the first argument, fetches the one printer object of its
// isolate, calls the operation and turns the result into a script value.
//
// One source serves both runtime generations the add-on ships for; what
// differs between them is gathered in the compatibility section below.
#include <node.h>
#include <uv.h>
#include <v8.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/addon_log.h"
#include "binding/async_print.h"
#include "binding/conversions.h"
#include "binding/driver_printer.h"
#include "platform/shell.h"

namespace binding {
namespace {

void initBinding(v8::Local<v8::Object> exports, v8::Local<v8::Value> module, void* priv);
void releasePrinter(void* arg);

}  // namespace
}  // namespace binding

// ---- Runtime generations ----------------------------------------------------
// 47: Node.js 5.x (V8 4.6, libuv 1.8), the client's runtime: one script
//     thread and end-of-process hooks that run once its loop has no work left.
// 115: Node.js 20, where worker threads load the add-on too: each has an
//     environment clean-up hook, and finds the add-on by its per-context
//     initializer because the library maps only once.
#if NODE_MODULE_VERSION == 47
namespace binding {
namespace {

void whenEnvironmentEnds(v8::Isolate* /*isolate*/, void* owner) { node::AtExit(releasePrinter, owner); }

bool isMainScriptThread(v8::Isolate* /*isolate*/) { return true; }

v8::String::Utf8Value utf8Of(v8::Isolate* /*isolate*/, v8::Local<v8::String> value) {
    return v8::String::Utf8Value(value);
}

}  // namespace
}  // namespace binding
#elif NODE_MODULE_VERSION == 115
namespace binding {
namespace {

void whenEnvironmentEnds(v8::Isolate* isolate, void* owner) {
    node::AddEnvironmentCleanupHook(isolate, releasePrinter, owner);
}

// Workers run loops of their own; the main thread runs the default one.
bool isMainScriptThread(v8::Isolate* isolate) { return node::GetCurrentEventLoop(isolate) == uv_default_loop(); }

v8::String::Utf8Value utf8Of(v8::Isolate* isolate, v8::Local<v8::String> value) {
    return v8::String::Utf8Value(isolate, value);
}

}  // namespace
}  // namespace binding

// A library is mapped, and its load-time routine runs, once per process.
// Other script threads (workers) that load the add-on find it by this name.
extern "C" NODE_MODULE_EXPORT void NODE_MODULE_INITIALIZER(v8::Local<v8::Object> exports,
                                                           v8::Local<v8::Value> module,
                                                           v8::Local<v8::Context> /*context*/) {
    binding::initBinding(exports, module, nullptr);
}
#else
#error "binding supports module generations 47 (Node.js 5.x) and 115 (Node.js 20); these Node.js headers are of another"
#endif
// ------------------------------------------------------------------------------

namespace binding {
namespace {

using Info = v8::FunctionCallbackInfo<v8::Value>;

// The isolate's embedder data slot that holds its printer object.
constexpr std::uint32_t kPrinterSlot = 2;

constexpr char kControlPanelCommand[] = "cmd /c control.exe  /name ";

// The isolate's hold on its printer object. Queued print requests hold it
// too, so a printer outlives the environment that made it until its last
// receipt has printed.
struct PrinterOwner {
    v8::Isolate* isolate;
    std::shared_ptr<DriverPrinter> printer;
};

// The environment is ending (a worker stops, or the process exits normally).
void releasePrinter(void* arg) {
    auto* owner = static_cast<PrinterOwner*>(arg);
    owner->isolate->SetData(kPrinterSlot, nullptr);
    delete owner;
}

// The isolate's printer object, made on first use; none without an isolate.
DriverPrinter* getDriverPrinter() {
    logLine("getDriverPrinter");
    v8::Isolate* isolate = v8::Isolate::GetCurrent();
    if (isolate == nullptr) {
        logLine("isolate is NULL");
        return nullptr;
    }
    if (void* data = isolate->GetData(kPrinterSlot)) {
        logLine("get data");
        return static_cast<DriverPrinter*>(data);
    }
    logLine("data is NULL");
    auto* owner = new PrinterOwner{isolate, std::make_shared<DriverPrinter>()};
    isolate->SetData(kPrinterSlot, owner->printer.get());
    whenEnvironmentEnds(isolate, owner);
    return owner->printer.get();
}

// 8-bit text read as UTF-8 up to its first zero byte; the empty string when
// the engine cannot hold it.
v8::Local<v8::String> scriptString(v8::Isolate* isolate, const std::string& text) {
    v8::Local<v8::String> value;
    if (!v8::String::NewFromUtf8(isolate, text.c_str(), v8::NewStringType::kNormal).ToLocal(&value))
        return v8::String::Empty(isolate);
    return value;
}

void throwTypeError(v8::Isolate* isolate, const char* message) {
    isolate->ThrowException(v8::Exception::TypeError(scriptString(isolate, message)));
}

// False, with the TypeError thrown, when the script gave no argument.
bool requireArgument(const Info& info) {
    if (info.Length() >= 1) return true;
    throwTypeError(info.GetIsolate(), "Wrong number of arguments");
    return false;
}

// The first argument as the engine's string conversion gives it, in UTF-8 up
// to its first zero byte. False when the conversion threw (a symbol, or an
// object whose toString throws); the exception then goes to the script.
bool readText(const Info& info, std::string& text) {
    v8::Isolate* isolate = info.GetIsolate();
    v8::Local<v8::String> value;
    if (!info[0]->ToString(isolate->GetCurrentContext()).ToLocal(&value)) return false;
    const v8::String::Utf8Value utf8 = utf8Of(isolate, value);
    const std::string_view bytes = *utf8 != nullptr ? std::string_view(*utf8, utf8.length()) : std::string_view();
    text.assign(bytes.substr(0, bytes.find('\0')));
    return true;
}

// The first argument through the engine's ToInt32: 0 for what is no number.
bool readInteger(const Info& info, std::int32_t& number) {
    v8::Local<v8::Int32> value;
    if (!info[0]->ToInt32(info.GetIsolate()->GetCurrentContext()).ToLocal(&value)) return false;
    number = value->Value();
    return true;
}

// The printer object, or none with the TypeError thrown.
DriverPrinter* printerFor(const Info& info) {
    DriverPrinter* printer = getDriverPrinter();
    if (printer == nullptr) {
        logLine("objPrint is NULL");
        throwTypeError(info.GetIsolate(), "get print driver failed");
    }
    return printer;
}

void returnText(const Info& info, const std::string& text) {
    info.GetReturnValue().Set(scriptString(info.GetIsolate(), text));
}

struct ListedPrinter {
    std::string type;     // UTF-8
    std::string port;
    const char* nodriver;  // "true", "false", or none
};

void returnPrinters(const Info& info, const std::vector<ListedPrinter>& printers) {
    v8::Isolate* isolate = info.GetIsolate();
    const v8::Local<v8::Context> context = isolate->GetCurrentContext();
    const v8::Local<v8::Array> list = v8::Array::New(isolate, static_cast<int>(printers.size()));
    std::uint32_t index = 0;
    for (const ListedPrinter& printer : printers) {
        const v8::Local<v8::Object> entry = v8::Object::New(isolate);
        const auto property = [&](const char* key, const std::string& value) {
            return entry->Set(context, scriptString(isolate, key), scriptString(isolate, value)).IsJust();
        };
        if (!property("type", printer.type) || !property("port", printer.port)) return;
        if (printer.nodriver != nullptr && !property("nodriver", printer.nodriver)) return;
        if (list->Set(context, index++, entry).IsNothing()) return;
    }
    info.GetReturnValue().Set(list);
}

void appendListed(std::vector<ListedPrinter>& out, const std::vector<PrinterEntry>& entries, const char* nodriver) {
    for (const PrinterEntry& entry : entries) out.push_back({ansiToUtf8(entry.name), entry.port, nodriver});
}

void queuePrint(DriverPrinter& printer, std::string text, PrintRequest::Step step) {
    queuePrintRequest(std::make_unique<PrintRequest>(PrintRequest{std::move(text), printer.shared_from_this(), step}));
}

// Control Panel canonical names, such as Microsoft.DevicesAndPrinters. The
// name ends up on a cmd command line, where anything else could start a
// second command.
bool isControlPanelName(std::string_view name) {
    if (name.empty()) return false;
    for (const char c : name) {
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '.' && c != '_') return false;
    }
    return true;
}

void print(const Info& info) {
    logLine("print");
    if (!requireArgument(info)) return;
    std::string text;
    if (!readText(info, text)) return;
    logLine("begin get driver");
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    logLine("begin print order");
    queuePrint(*printer, std::move(text), driverPrintAsync);
    info.GetReturnValue().Set(0);
}

void printTestMsg(const Info& info) {
    logLine("printTestMsg");
    if (!requireArgument(info)) return;
    std::string name;
    if (!readText(info, name)) return;
    logLine("printTestMsg begin get driver%s", name);
    std::string ansiName = utf8ToAnsi(name);
    logLine("printTestMsg begin get driver");
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    printer->setPrinterName(std::move(ansiName));
    info.GetReturnValue().Set(printer->PrintTestMsg());
}

void setDriverName(const Info& info) {
    if (!requireArgument(info)) return;
    std::string name;
    if (!readText(info, name)) return;
    std::string ansiName = utf8ToAnsi(name);
    logLine("begin get driver");
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    printer->setPrinterName(std::move(ansiName));
    info.GetReturnValue().Set(0);
}

void setDriverWidth(const Info& info) {
    if (!requireArgument(info)) return;
    std::int32_t width = 0;
    if (!readInteger(info, width)) return;
    logLine("begin get driver");
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    printer->paperWidth = width;
    info.GetReturnValue().Set(0);
}

void getDriverName(const Info& info) {
    logLine("begin get driver");
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    returnText(info, ansiToUtf8(printer->printerName()));
}

void getDriverWidth(const Info& info) {
    logLine("begin get driver");
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    info.GetReturnValue().Set(printer->paperWidth);
}

void getLocalPrintDriver(const Info& info) {
    logLine("begin get local print driver");
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    std::vector<PrinterEntry> spooler;
    listSpoolerPrinters(spooler);
    std::vector<ListedPrinter> listed;
    appendListed(listed, spooler, nullptr);
    returnPrinters(info, listed);
}

// The USB listing that GetAllLocalPrintDrivers and NoDriverGetPrinters begin
// with; false, with the TypeError thrown, when there is no printer object.
bool listUsbPrinters(const Info& info, std::vector<ListedPrinter>& listed, const char* nodriver) {
    logLine("begin get usb print driver");
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return false;
    logLine("has get usb print driver");
    std::vector<PrinterEntry> usb;
    printer->usbPrinter.enumUsbPrinters(usb);
    appendListed(listed, usb, nodriver);
    return true;
}

void GetAllLocalPrintDrivers(const Info& info) {
    logLine("getAllLocalPrintDrivers");
    std::vector<ListedPrinter> listed;
    if (!listUsbPrinters(info, listed, "true")) return;
    std::vector<PrinterEntry> spooler;
    listSpoolerPrinters(spooler);
    appendListed(listed, spooler, "false");
    returnPrinters(info, listed);
}

void getSelectPrinter(const Info& info) {
    logLine("getSelectPrinter");
    logLine("begin get local print driver");
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    logLine("%s", executableFolder());
    returnText(info, readSelectedPrinter(printer->configPath));
}

// The steps that savePrinter, openPrintTask and openPrintPro share: a name in
// UTF-8, unconverted, and 0 for success, 1 for failure.
template <typename Operation>
void nameOperation(const Info& info, const Operation& operation) {
    if (!requireArgument(info)) return;
    std::string name;
    if (!readText(info, name)) return;
    logLine("begin get driver");
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    info.GetReturnValue().Set(operation(*printer, name) ? 0 : 1);
}

void savePrinter(const Info& info) {
    logLine("savePrinter");
    nameOperation(info, [](DriverPrinter& printer, const std::string& name) {
        return saveSelectedPrinter(printer.configPath, name);
    });
}

void openPrintTask(const Info& info) {
    logLine("OpenPrintTask");
    nameOperation(info, [](DriverPrinter&, const std::string& name) { return openPrinterQueue(name); });
}

void openPrintPro(const Info& info) {
    logLine("OpenPrintPro");
    nameOperation(info, [](DriverPrinter&, const std::string& name) { return openPrinterProperties(name); });
}

void QuerySysCommand(const Info& info) {
    logLine("QuerySysCmd");
    if (!requireArgument(info)) return;
    std::string target;
    if (!readText(info, target)) return;
    platform::shellOpen(target);
    info.GetReturnValue().Set(1);
}

void QuerySysCommand2(const Info& info) {
    logLine("QuerySysCmd2");
    if (!requireArgument(info)) return;
    std::string name;
    if (!readText(info, name)) return;
    if (isControlPanelName(name)) {
        platform::runHiddenCommand(kControlPanelCommand + name);
    } else {
        logLine("QuerySysCmd2 refused: %s", name);
    }
    info.GetReturnValue().Set(1);
}

void NoDriverGetPrinters(const Info& info) {
    logLine("getNoDriverPrinter");
    std::vector<ListedPrinter> listed;
    if (!listUsbPrinters(info, listed, nullptr)) return;
    returnPrinters(info, listed);
}

void NoDriverSetPrinters(const Info& info) {
    logLine("begin set usb print driver");
    if (!requireArgument(info)) return;
    std::string name;
    if (!readText(info, name)) return;
    logLine("SetUSBprintDriver %s", name);
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    printer->usbPrinter.setDriver(std::move(name));
    info.GetReturnValue().Set(0);
}

void NoDriverPrint(const Info& info) {
    logLine("begin set usb print driver");
    if (!requireArgument(info)) return;
    std::string text;
    if (!readText(info, text)) return;
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    queuePrint(*printer, std::move(text), printAsync);
    info.GetReturnValue().Set(0);
}

void NoDriverGetPrinted(const Info& info) {
    if (!requireArgument(info)) return;
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    returnText(info, printer->usbPrinter.takePrintedOrderIds());
}

// The word known now; the fresh one comes from a query queued behind the
// receipts, never waited for here.
void NoDriverGetStatus(const Info& info) {
    if (!requireArgument(info)) return;
    std::string name;
    if (!readText(info, name)) return;
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    auto request = printer->usbPrinter.requestStatus(name);
    if (!request.query.empty()) queuePrint(*printer, std::move(request.query), statusAsync);
    returnText(info, std::string(statusWord(request.known)));
}

// The steps that SetPrinterCheckTime and SetMonitorTime share: a number
// through ToInt32, stored, and 0.
template <typename Store>
void integerSetting(const Info& info, const Store& store) {
    if (!requireArgument(info)) return;
    std::int32_t value = 0;
    if (!readInteger(info, value)) return;
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    store(*printer, value);
    info.GetReturnValue().Set(0);
}

void SetPrinterCheckTime(const Info& info) {
    integerSetting(info, [](DriverPrinter& printer, std::int32_t seconds) { printer.checkTime = seconds; });
}

void SetMonitorTime(const Info& info) {
    integerSetting(info, [](DriverPrinter& printer, std::int32_t seconds) { printer.monitorTime = seconds; });
}

void GetPrintedTasks(const Info& info) {
    if (!requireArgument(info)) return;
    std::string names;
    if (!readText(info, names)) return;
    const std::string ansiNames = utf8ToAnsi(names);
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    returnText(info, printer->GetPrintedTasks(ansiNames));
}

// Answers at once with the word last read and leaves the spooler to the print
// thread, after the receipts already queued.
void GetPrinterStatus(const Info& info) {
    if (!requireArgument(info)) return;
    std::string name;
    if (!readText(info, name)) return;
    std::string ansiName = utf8ToAnsi(name);
    DriverPrinter* printer = printerFor(info);
    if (printer == nullptr) return;
    const SpoolerStatusAnswer answer = printer->askSpoolerStatus(ansiName);
    if (answer.queueRead) queuePrint(*printer, std::move(ansiName), spoolerStatusAsync);
    returnText(info, std::string(statusWord(answer.word)));
}

void addFunction(v8::Local<v8::Object> exports, const char* name, v8::FunctionCallback callback) {
    v8::Isolate* isolate = v8::Isolate::GetCurrent();
    const v8::HandleScope scope(isolate);
    const v8::Local<v8::Context> context = isolate->GetCurrentContext();
    v8::Local<v8::Function> function;
    if (!v8::FunctionTemplate::New(isolate, callback)->GetFunction(context).ToLocal(&function)) return;
    const v8::Local<v8::String> key = scriptString(isolate, name);
    function->SetName(key);
    exports->Set(context, key, function).FromMaybe(false);
}

// The runtime emits 'exit' on its process object on the main script thread,
// before it calls the C library's exit, for process.exit() and for a script
// that has run out of work alike, on every system and both generations, with
// every thread still running: queued receipts print there. The library's own
// exit handler comes too late on Windows, where the print thread is gone.
void onProcessExit(const Info& /*info*/) { drainPrintQueueAtExit(); }

void listenForProcessExit(v8::Isolate* isolate) {
    static bool listening = false;  // only ever touched on the main script thread
    if (listening || !isMainScriptThread(isolate)) return;
    const v8::HandleScope scope(isolate);
    // A process object the script has changed may throw; the exit handler remains.
    const v8::TryCatch ignored(isolate);
    const v8::Local<v8::Context> context = isolate->GetCurrentContext();
    v8::Local<v8::Value> process;
    v8::Local<v8::Value> on;
    v8::Local<v8::Function> listener;
    if (!context->Global()->Get(context, scriptString(isolate, "process")).ToLocal(&process) || !process->IsObject() ||
        !process.As<v8::Object>()->Get(context, scriptString(isolate, "on")).ToLocal(&on) || !on->IsFunction() ||
        !v8::FunctionTemplate::New(isolate, onProcessExit)->GetFunction(context).ToLocal(&listener))
        return;
    v8::Local<v8::Value> arguments[] = {scriptString(isolate, "exit"), listener};
    listening = !on.As<v8::Function>()->Call(context, process, 2, arguments).IsEmpty();
}

void initBinding(v8::Local<v8::Object> exports, v8::Local<v8::Value> /*module*/, void* /*priv*/) {
    listenForProcessExit(v8::Isolate::GetCurrent());
    addFunction(exports, "print", print);
    addFunction(exports, "printTestMsg", printTestMsg);
    addFunction(exports, "setDriverName", setDriverName);
    addFunction(exports, "setDriverWidth", setDriverWidth);
    addFunction(exports, "getDriverName", getDriverName);
    addFunction(exports, "getDriverWidth", getDriverWidth);
    addFunction(exports, "getLocalPrintDriver", getLocalPrintDriver);
    addFunction(exports, "GetAllLocalPrintDrivers", GetAllLocalPrintDrivers);
    addFunction(exports, "getSelectPrinter", getSelectPrinter);
    addFunction(exports, "savePrinter", savePrinter);
    addFunction(exports, "openPrintTask", openPrintTask);
    addFunction(exports, "openPrintPro", openPrintPro);
    addFunction(exports, "QuerySysCommand", QuerySysCommand);
    addFunction(exports, "QuerySysCommand2", QuerySysCommand2);
    addFunction(exports, "NoDriverGetPrinters", NoDriverGetPrinters);
    addFunction(exports, "NoDriverSetPrinters", NoDriverSetPrinters);
    addFunction(exports, "NoDriverPrint", NoDriverPrint);
    addFunction(exports, "NoDriverGetPrinted", NoDriverGetPrinted);
    addFunction(exports, "SetPrinterCheckTime", SetPrinterCheckTime);
    addFunction(exports, "SetMonitorTime", SetMonitorTime);
    addFunction(exports, "GetPrintedTasks", GetPrintedTasks);
    addFunction(exports, "NoDriverGetStatus", NoDriverGetStatus);
    addFunction(exports, "GetPrinterStatus", GetPrinterStatus);
}

}  // namespace
}  // namespace binding

// The module record, in the runtime's field order. The load-time routine
// hands it to the runtime when the library is mapped; the runtime then calls
// initBinding with the exports of the `require` that loaded it.
extern "C" {

static node::node_module g_bindingModule = {
    NODE_MODULE_VERSION,  // the runtime generation of the headers built against
    0,
    nullptr,
    __FILE__,
    binding::initBinding,
    nullptr,
    "binding",
    nullptr,
    nullptr,
};

#if defined(_MSC_VER)
static void registerBinding() { node_module_register(&g_bindingModule); }
// The pointer itself sits among the C runtime's initialisers, which run it
// when the library is mapped.
#pragma section(".CRT$XCU", read)
__declspec(dllexport, allocate(".CRT$XCU")) void(__cdecl* _register_binding_)(void) = registerBinding;
#else
__attribute__((constructor)) static void registerBinding() { node_module_register(&g_bindingModule); }
NODE_MODULE_EXPORT void (*_register_binding_)(void) = registerBinding;
#endif

}  // extern "C"
