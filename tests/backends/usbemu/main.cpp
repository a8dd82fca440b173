#include <gtest/gtest.h>

#include <iostream>

#include "usbemu/UsbEmulation.h"

// The emulated devices reach libusb only through umockdev's preload
// library, which must be loaded when the process starts: without it, the
// program starts itself again with it.
int main(int argc, char** argv) {
    if (!spindle::usbemu::PreloadActive()) {
        std::string error;
        spindle::usbemu::ReexecWithPreload(argv, error);
        std::cerr << "cannot start again with umockdev's preload library: " << error << "\n";
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
