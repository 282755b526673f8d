// The program's entry: Form1 is the startup object; the runtime runs it until the program ends.
#include <memory>

#include "runtime/runtime.h"
#include "window/Form1.h"

int main(int argc, char** argv) {
    std::unique_ptr<window::Form1> form1;
    return runtime::Run(argc, argv, window::Form1::Layout(), window::Form1::Loader(form1));
}
