// platform/host/application.h: the host's application (status bar, started extensions, the command
// pool), its map document (focus map, selected layer, command bars, document events) and the
// command bars. A host program (gishost, a test) makes one Application, loads a map into its
// document, starts extensions and puts commands into the pool, clicks commands, and ends with
// shutdown(), which lets the add-ins go (their references to the application form cycles until
// then).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/host/host.h"
#include "platform/host/map.h"

namespace host {

class Application;

class StatusBar : public ComObject<IStatusBar> {
public:
    HRESULT put_Message(LONG pane, BSTR text) override;
    HRESULT get_Message(LONG pane, BSTR* text) override;

    // Every message of pane 0, in order.
    const std::vector<std::string>& history() const { return history_; }
    // Called with each message of pane 0 as it is shown.
    void onMessage(std::function<void(const std::string&)> f) { observer_ = std::move(f); }

private:
    std::map<LONG, std::wstring> panes_;
    std::vector<std::string> history_;
    std::function<void(const std::string&)> observer_;
};

// A command's place: on a bar, or (found in the pool) on none. Execute clicks the command.
class CommandItem : public ComObject<ICommandItem> {
public:
    CommandItem(Application* app, std::string uid) : app_(app), uid_(std::move(uid)) {}
    HRESULT get_ID(IUID** id) override;
    HRESULT get_Caption(BSTR* caption) override;
    HRESULT get_Group(VARIANT_BOOL* group) override;
    HRESULT put_Group(VARIANT_BOOL group) override;
    HRESULT raw_Refresh() override;
    HRESULT raw_Execute() override;

    const std::string& uid() const { return uid_; }
    bool group() const { return group_; }

private:
    Application* app_;  // the application outlives its items
    std::string uid_;
    bool group_ = false;
};

class CommandBar : public ComObject<ICommandBar, ICommandItem> {
public:
    CommandBar(Application* app, std::string uid, std::string caption)
        : app_(app), uid_(std::move(uid)), caption_(std::move(caption)) {}
    // ICommandBar
    HRESULT get_Count(LONG* count) override;
    HRESULT get_Item(LONG index, ICommandItem** item) override;
    HRESULT raw_Add(IUID* id, const VARIANT* index, ICommandItem** item) override;
    // ICommandItem (the bar itself)
    HRESULT get_ID(IUID** id) override;
    HRESULT get_Caption(BSTR* caption) override;
    HRESULT get_Group(VARIANT_BOOL* group) override;
    HRESULT put_Group(VARIANT_BOOL group) override;
    HRESULT raw_Refresh() override;
    HRESULT raw_Execute() override;

    const std::string& uid() const { return uid_; }
    const std::string& caption() const { return caption_; }
    const std::vector<_com_ptr_t<CommandItem>>& items() const { return items_; }
    void append(const std::string& uid);

private:
    Application* app_;
    std::string uid_, caption_;
    std::vector<_com_ptr_t<CommandItem>> items_;
};

class CommandBars : public ComObject<ICommandBars> {
public:
    explicit CommandBars(Application* app) : app_(app) {}
    HRESULT raw_Find(IUID* id, VARIANT_BOOL noRecurse, VARIANT_BOOL noCreate, ICommandItem** item) override;
    HRESULT get_Count(LONG* count) override;

    _com_ptr_t<CommandBar> addBar(const std::string& uid, const std::string& caption,
                                  const std::vector<std::string>& itemUids = {});
    const std::vector<_com_ptr_t<CommandBar>>& bars() const { return bars_; }

private:
    Application* app_;
    std::vector<_com_ptr_t<CommandBar>> bars_;
};

class MxDocument : public ComObject<IMxDocument, IDocumentEventsSource> {
public:
    explicit MxDocument(Application* app);
    // IMxDocument
    HRESULT get_FocusMap(IMap** map) override;
    HRESULT get_ActiveView(IActiveView** view) override;
    HRESULT get_SelectedLayer(ILayer** layer) override;
    HRESULT get_CommandBars(ICommandBars** bars) override;
    HRESULT raw_UpdateContents() override;
    // IDocumentEventsSource
    HRESULT raw_Advise(IDocumentEvents* sink, DWORD* cookie) override;
    HRESULT raw_Unadvise(DWORD cookie) override;

    Map& map() { return *map_; }
    CommandBars& commandBars() { return *bars_; }
    void setSelectedLayer(ILayer* layer) { selected_ = layer; }
    void setMap(_com_ptr_t<Map> map);
    int contentsUpdates() const { return updates_; }
    std::size_t sinkCount() const { return sinks_.size(); }

    // Tells every sink, in the order they were advised; a sink's failure does not stop the others.
    void fireNewDocument();
    void fireOpenDocument();
    void fireCloseDocument();

private:
    template <class F>
    void fire(F&& call);
    _com_ptr_t<Map> map_;
    _com_ptr_t<CommandBars> bars_;
    ILayerPtr selected_;
    std::map<DWORD, IDocumentEventsPtr> sinks_;
    DWORD nextCookie_ = 1;
    int updates_ = 0;
};

class Application : public ComObject<IApplication> {
public:
    Application();
    ~Application() override;

    HRESULT get_Document(IMxDocument** document) override;
    HRESULT get_StatusBar(IStatusBar** bar) override;
    HRESULT get_hWnd(LONG* window) override;
    HRESULT raw_FindExtensionByCLSID(IUID* id, IExtension** extension) override;
    HRESULT raw_FindExtensionByName(BSTR name, IExtension** extension) override;

    MxDocument& document() { return *document_; }
    StatusBar& statusBar() { return *status_; }

    // Starts an extension (Startup with this application) under its ProgID; throws its failure.
    void startExtension(const std::string& progId, IExtension* extension);
    // Puts a command into the pool under its ProgID and calls its OnCreate with this application.
    void addCommand(const std::string& progId, ICommand* command);
    // The pool's command that the UID value names; null when there is none.
    ICommandPtr command(const std::string& uid) const;
    const std::vector<std::pair<std::string, ICommandPtr>>& pool() const { return pool_; }
    const std::vector<std::pair<std::string, IExtensionPtr>>& extensions() const { return extensions_; }

    // Clicks a command of the pool when Enabled says so. Returns false (and why) when it is not in
    // the pool or not enabled.
    bool click(const std::string& uid, std::string* why = nullptr);

    // Shuts the extensions down and lets the extensions and commands go.
    void shutdown();

private:
    _com_ptr_t<MxDocument> document_;
    _com_ptr_t<StatusBar> status_;
    std::vector<std::pair<std::string, IExtensionPtr>> extensions_;
    std::vector<std::pair<std::string, ICommandPtr>> pool_;
};

}  // namespace host
