#include "platform/ShellLink.h"

#include <string>

#include "platform/windows/Win32.h"

#include <objbase.h>
#include <objidl.h>
#include <shlguid.h>
#include <shobjidl.h>

namespace qvl::platform {
namespace {

// COM for the calling thread for as long as one save takes; balanced only when it was started
// here (a thread that already has it in another model keeps that).
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

// Releases a COM interface on every way out.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (p_) p_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T** Out() { return &p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

}  // namespace

ShellLink::ShellLink(std::string name) : name_(std::move(name)) {}

void ShellLink::SetPath(std::string target) { target_ = std::move(target); }

void ShellLink::SetDescription(std::string description) { description_ = std::move(description); }

void ShellLink::SetShowCmd(int showCmd) { showCmd_ = showCmd; }

bool ShellLink::Save(const std::string& fileName) const noexcept {
    try {
        // An empty target still makes a link, with an empty target path.
        if (fileName.empty()) return false;
        ComScope com;
        if (!com.Usable()) return false;
        ComPtr<IShellLinkA> link;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                    reinterpret_cast<void**>(link.Out()))))
            return false;
        // What the link object makes of each value does not stop the save: a link with what it
        // took is better than none.
        link->SetPath(target_.c_str());
        link->SetDescription(description_.c_str());
        link->SetShowCmd(showCmd_);
        ComPtr<IPersistFile> file;
        if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Out())))) return false;
        const std::wstring wideName = Wide(fileName);
        return !wideName.empty() && SUCCEEDED(file->Save(wideName.c_str(), TRUE));
    } catch (...) {
        return false;
    }
}

}  // namespace qvl::platform
