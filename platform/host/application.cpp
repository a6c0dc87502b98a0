// platform/host/application.cpp: the application: its status bar, the started extensions, the
// command pool and the click of a command. The add-ins hold the application; shutdown() ends
// those cycles by shutting the extensions down and letting extensions and commands go.

#include "platform/host/application.h"

#include "platform/host/uid.h"

namespace host {

// ---- Status bar ----------------------------------------------------------------------------------

HRESULT StatusBar::put_Message(LONG pane, BSTR text) {
    return comGuard([&] {
        std::wstring t = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
        if (pane == 0) {
            history_.push_back(toUtf8(t));
            if (observer_) observer_(history_.back());
        }
        panes_[pane] = std::move(t);
        return S_OK;
    });
}
HRESULT StatusBar::get_Message(LONG pane, BSTR* text) {
    return comGuard([&] {
        if (!text) return E_POINTER;
        auto it = panes_.find(pane);
        *text = SysAllocString(it == panes_.end() ? L"" : it->second.c_str());
        return *text ? S_OK : E_OUTOFMEMORY;
    });
}

// ---- Application ---------------------------------------------------------------------------------

Application::Application() : document_(new MxDocument(this)), status_(new StatusBar) {}

Application::~Application() { shutdown(); }

HRESULT Application::get_Document(IMxDocument** document) {
    if (!document) return E_POINTER;
    *document = document_;
    (*document)->AddRef();
    return S_OK;
}
HRESULT Application::get_StatusBar(IStatusBar** bar) {
    if (!bar) return E_POINTER;
    *bar = status_;
    (*bar)->AddRef();
    return S_OK;
}
HRESULT Application::get_hWnd(LONG* window) {
    if (!window) return E_POINTER;
    *window = 1;  // one top-level window; dialogs are not owned by it
    return S_OK;
}
HRESULT Application::raw_FindExtensionByCLSID(IUID* id, IExtension** extension) {
    return comGuard([&] {
        if (!id || !extension) return E_POINTER;
        *extension = nullptr;
        const std::string key = uidKey(id->GetValue().narrow());
        for (const auto& [progId, ext] : extensions_) {
            if (uidKey(progId) == key) {
                *extension = ext;
                (*extension)->AddRef();
                break;
            }
        }
        return S_OK;
    });
}
HRESULT Application::raw_FindExtensionByName(BSTR name, IExtension** extension) {
    return comGuard([&] {
        if (!extension) return E_POINTER;
        *extension = nullptr;
        const _bstr_t wanted(name, true);
        for (const auto& [progId, ext] : extensions_) {
            if (ext->GetName() == wanted) {
                *extension = ext;
                (*extension)->AddRef();
                break;
            }
        }
        return S_OK;
    });
}

void Application::startExtension(const std::string& progId, IExtension* extension) {
    if (!extension) _com_issue_error(E_POINTER);
    extensions_.emplace_back(progId, IExtensionPtr(extension));
    _variant_t self(static_cast<IUnknown*>(static_cast<IApplication*>(this)));
    extension->Startup(&self);
}

void Application::addCommand(const std::string& progId, ICommand* command) {
    if (!command) _com_issue_error(E_POINTER);
    pool_.emplace_back(progId, ICommandPtr(command));
    command->OnCreate(static_cast<IApplication*>(this));
}

ICommandPtr Application::command(const std::string& uid) const {
    const std::string key = uidKey(uid);
    for (const auto& [progId, cmd] : pool_)
        if (uidKey(progId) == key) return cmd;
    return nullptr;
}

bool Application::click(const std::string& uid, std::string* why) {
    ICommandPtr cmd = command(uid);
    if (!cmd) {
        if (why) *why = "no command " + uid + " in the pool";
        return false;
    }
    if (cmd->GetEnabled() == VARIANT_FALSE) {
        if (why) *why = "the command " + uid + " is not enabled";
        return false;
    }
    cmd->OnClick();
    return true;
}

void Application::shutdown() {
    // Extensions first (they let the application and the document go), then the commands.
    auto extensions = std::move(extensions_);
    extensions_.clear();
    for (auto& [progId, ext] : extensions) ext->raw_Shutdown();
    extensions.clear();
    auto pool = std::move(pool_);
    pool_.clear();
    pool.clear();
}

}  // namespace host
