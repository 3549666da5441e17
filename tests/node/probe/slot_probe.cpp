// Reports which embedder data slots of the calling isolate hold something,
// so a test can show the slot the add-on keeps its printer in is free.
#include <node.h>

namespace {

void slots(const v8::FunctionCallbackInfo<v8::Value>& info) {
    v8::Isolate* isolate = info.GetIsolate();
    const v8::Local<v8::Context> context = isolate->GetCurrentContext();
    const std::uint32_t count = v8::Isolate::GetNumberOfDataSlots();
    const v8::Local<v8::Array> used = v8::Array::New(isolate, static_cast<int>(count));
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        if (used->Set(context, slot, v8::Boolean::New(isolate, isolate->GetData(slot) != nullptr)).IsNothing()) return;
    }
    info.GetReturnValue().Set(used);
}

}  // namespace

NODE_MODULE_INIT() {
    v8::Isolate* isolate = context->GetIsolate();
    const v8::Local<v8::Function> function = v8::FunctionTemplate::New(isolate, slots)->GetFunction(context).ToLocalChecked();
    exports->Set(context, v8::String::NewFromUtf8Literal(isolate, "slots"), function).Check();
    (void)module;
}
