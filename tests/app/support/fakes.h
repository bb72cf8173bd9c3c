#pragma once
// Scripted stand-ins for the windows, so that the page handlers run headless.
// Every fake operation passes through Faults::hit(name); arming a name makes
// that operation throw, which is how a test makes a given step fail.
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/fields.h"
#include "app/list_model.h"
#include "app/pages.h"
#include "app/services.h"
#include "app/settings.h"
#include "db/error.h"

namespace fakes {

inline const std::string kInjected = "Injected failure";

struct Faults {
    std::set<std::string> armed;
    void arm(const std::string& name) { armed.insert(name); }
    void hit(const std::string& name) const {
        if (armed.count(name)) throw db::Error(-1, kInjected + " in " + name);
    }
};

class Dialogs : public ui::Dialogs {
public:
    explicit Dialogs(Faults& faults) : faults_(faults) {}
    struct Shown {
        std::string kind, text, caption;
    };
    std::vector<Shown> shown;
    std::vector<std::string> reports;
    std::vector<int> answers; // given to questions in turn; No when none left
    int processed = 0;

    void message(const std::string& text, const std::string& caption = {}) override {
        faults_.hit("message");
        shown.push_back({"message", text, caption});
    }
    int question(const std::string& text, const std::string& caption = {}) override {
        faults_.hit("question");
        shown.push_back({"question", text, caption});
        if (answers.empty()) return ui::AnswerNo;
        int a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    std::string input(const std::string& prompt, const std::string& caption, const std::string&) override {
        shown.push_back({"input", prompt, caption});
        return {};
    }
    void errorReport(const std::string& text) override { reports.push_back(text); }
    void processEvents() override { ++processed; }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& s : shown)
            if (s.kind == "message") out.push_back(s.text);
        return out;
    }

private:
    Faults& faults_;
};

class Pointer : public ui::Pointer {
public:
    explicit Pointer(Faults& faults) : faults_(faults) {}
    std::vector<int> history;
    void setState(int state) override {
        faults_.hit("pointer" + std::to_string(state));
        state_ = state;
        history.push_back(state);
    }
    int state() const override { return state_; }

private:
    Faults& faults_;
    int state_ = ui::PointerDefault;
};

class Program : public app::Program {
public:
    int ends = 0;
    void end() override { ++ends; }
    bool ended() const override { return ends > 0; }
};

// What both fake pages share.
template <class Base>
class Page : public Base {
public:
    explicit Page(Faults& faults) : faults(faults), dialogs_(faults), pointer_(faults) {}
    Faults& faults;
    bool visible = false;
    int shows = 0, hides = 0;
    std::string caption, handImage;
    bool icon = false, faceColour = false;

    void showPage() override {
        faults.hit(prefix() + "show");
        visible = true;
        ++shows;
    }
    void hidePage() override {
        faults.hit(prefix() + "hide");
        visible = false;
        ++hides;
    }
    void setCaption(const std::string& c) override {
        faults.hit(prefix() + "caption");
        caption = c;
    }
    void setProgramIcon() override {
        faults.hit(prefix() + "icon");
        icon = true;
    }
    void setHandPointerImage(const std::string& file) override {
        faults.hit(prefix() + "handImage");
        handImage = file;
    }
    void applySystemFaceColour() override {
        faults.hit(prefix() + "faceColour");
        faceColour = true;
    }
    ui::Pointer& pointer() override { return pointer_; }
    ui::Dialogs& dialogs() override { return dialogs_; }
    Dialogs& fakeDialogs() { return dialogs_; }
    Pointer& fakePointer() { return pointer_; }

protected:
    virtual std::string prefix() const = 0;

private:
    Dialogs dialogs_;
    Pointer pointer_;
};

// A list whose selection can be made to fail.
class List : public app::SortedListModel {
public:
    List(Faults& faults, std::string name) : faults_(faults), name_(std::move(name)) {}
    void setSelected(int index, bool on) override {
        faults_.hit(name_ + ".setSelected");
        SortedListModel::setSelected(index, on);
    }
    int count() const override {
        faults_.hit(name_ + ".count");
        return SortedListModel::count();
    }

private:
    Faults& faults_;
    std::string name_;
};

class Progress : public ui::ProgressBar {
public:
    void setValue(int v) override { value_ = v; }
    int value() const override { return value_; }
    void setText(const std::string& t) override { text_ = t; }
    std::string text() const override { return text_; }

private:
    int value_ = 0;
    std::string text_ = "Progress Bar";
};

class TableManagerPage : public Page<app::TableManagerPage> {
public:
    using Page::Page;
    List list1{faults, "List1"}, list2{faults, "List2"};
    Progress bar;
    int outerHeight = 5965 - 1; // differs from the computed one until set
    ui::ListBox& accessList() override { return list1; }
    ui::ListBox& postgresList() override { return list2; }
    ui::ProgressBar& progress() override { return bar; }
    app::TwipsRect controlRect(const std::string& name) const override {
        faults.hit("Form2.controlRect");
        if (name == "PushButton2") return {120, 4980, 3840, 405};
        throw db::Error(340, "no control " + name);
    }
    void setOuterHeight(int twips) override {
        faults.hit("Form2.height");
        outerHeight = twips;
    }

protected:
    std::string prefix() const override { return "Form2."; }
};

class FileDialog : public app::FileDialog {
public:
    explicit FileDialog(Faults& faults) : faults_(faults) {}
    std::string chosen; // what the user picks; empty: Cancel
    std::string title, filter;
    long flags = 0;
    int shows = 0;
    void setFileName(const std::string& n) override {
        faults_.hit("dialog.fileName");
        name_ = n;
    }
    std::string fileName() const override { return name_; }
    void setFlags(long f) override {
        faults_.hit("dialog.flags");
        flags = f;
    }
    void setTitle(const std::string& t) override {
        faults_.hit("dialog.title");
        title = t;
    }
    void setFilter(const std::string& f) override {
        faults_.hit("dialog.filter");
        filter = f;
    }
    void showOpen() override {
        faults_.hit("dialog.show");
        ++shows;
        if (!chosen.empty()) name_ = chosen; // Cancel leaves the name as it was
    }

private:
    Faults& faults_;
    std::string name_;
};

class ConnectionPage : public Page<app::ConnectionPage> {
public:
    ConnectionPage(Faults& faults, app::SettingsStore& store) : Page(faults), dialog(faults), store_(store) {}
    std::map<app::Field, std::string> fields;
    FileDialog dialog;
    int tableManagerCreations = 0;
    bool hiddenFlag = false;

    std::string text(app::Field f) const override {
        auto it = fields.find(f);
        return it == fields.end() ? std::string() : it->second;
    }
    void setText(app::Field f, const std::string& t) override {
        faults.hit(std::string("Form1.") + app::fieldControlName(f));
        fields[f] = t;
        app::onFieldChanged(store_, f, t);
    }
    app::FileDialog& fileDialog() override { return dialog; }
    app::TableManagerPage& tableManager() override {
        if (!tables_) {
            ++tableManagerCreations;
            tables_ = std::make_unique<TableManagerPage>(faults);
        }
        return *tables_;
    }
    TableManagerPage* tablesIfCreated() { return tables_.get(); }
    bool hiddenByHandler() const override { return hiddenFlag; }
    void showPage() override {
        Page::showPage();
        hiddenFlag = false;
    }
    void hidePage() override {
        Page::hidePage();
        hiddenFlag = true;
    }

protected:
    std::string prefix() const override { return "Form1."; }

private:
    app::SettingsStore& store_;
    std::unique_ptr<TableManagerPage> tables_;
};

// Services that never reach a database: the Access file "exists" when it is
// in `files`, PostgreSQL "opens" when `postgresOpens`, and the lists fill from
// the given names.
struct ScriptedServices {
    explicit ScriptedServices(Faults& f) : faults(f) {}
    Faults& faults;
    std::set<std::string> files;
    bool postgresOpens = false;
    std::string postgresProblem = "The server does not answer (scripted)."; // when it does not open
    std::vector<std::string> accessTables, postgresTables;
    std::vector<std::string> opened; // web pages
    int postgresTests = 0;

    app::Services services() {
        app::Services s;
        s.fileExists = [this](const std::string& p) {
            faults.hit("fileExists");
            return files.count(p) > 0;
        };
        s.postgreSQLConnectionString = [](const db::ConnectionParameters& p) {
            return "Driver={PostgreSQL Unicode};Server=" + p.server + ";Port=" + p.port + ";";
        };
        s.postgreSQLConnectionProblem = [this](const db::ParameterSource& p) {
            faults.hit("testPostgreSQL");
            ++postgresTests;
            (void)p();
            return postgresOpens ? std::string() : postgresProblem;
        };
        s.fillAccessTableList = [this](ui::ListBox& l, const std::string&, const db::ParameterSource&, ui::Dialogs&) {
            l.clear();
            faults.hit("fillAccess");
            for (auto& t : accessTables) l.addItem(t);
        };
        s.fillPostgreSQLTableList = [this](ui::ListBox& l, const db::ParameterSource&, ui::Dialogs&) {
            l.clear();
            faults.hit("fillPostgreSQL");
            for (auto& t : postgresTables) l.addItem(t);
        };
        s.openWebPage = [this](const std::string& url) {
            faults.hit("openWebPage");
            opened.push_back(url);
        };
        return s;
    }
};

} // namespace fakes
