// How a COM class is registered for this machine, as CoCreateInstance will find it.
#pragma once

#include <windows.h>

#include <string>

namespace pelcheck {

struct ComRegistration {
    bool classKey = false;     // HKLM\Software\Classes\CLSID\{...}
    bool inproc = false;       // ...\InprocServer32
    bool localServer = false;  // ...\LocalServer32
    std::wstring server;       // InprocServer32 default value, environment expanded
    bool hasModel = false;     // a ThreadingModel value is present
    std::wstring model;
    std::wstring serverPath;  // the file the server name leads to, empty when none

    // Whether an object of the class can be created on a multithreaded-apartment thread
    // without a proxy for the plug-in interface.
    bool ModelFitsWorker() const;
};

ComRegistration ReadComRegistration(const std::wstring& clsidText);

}  // namespace pelcheck
