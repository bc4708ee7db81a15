#include "OptionState.h"

#include <optional>

#include "ListFile.h"
#include "ProcessInfo.h"
#include "Settings.h"

namespace kalidrome {

using namespace settings;

std::int32_t ConvertInterval(const std::string& text) {
    const std::optional<std::int32_t> value = ParseIntervalText(text);
    if (!value) throw IntervalError("'" + text + "' is not a valid integer value");
    return *value;
}

OptionState::OptionState(IniFile& settings, WallpaperList& list, std::string systemPath, Hooks hooks)
    : m_settings(settings), m_list(list), m_systemPath(std::move(systemPath)), m_hooks(std::move(hooks)) {}

void OptionState::SetDisableCycling(bool value) {
    m_options.DisableCycling = value;
    if (m_hooks.disableCyclingChanged) m_hooks.disableCyclingChanged(value);
    m_settings.writeBool(kDisableCycling.section, kDisableCycling.key, value);
}

void OptionState::SetShowTray(bool value) {
    m_options.ShowTray = value;
    if (m_hooks.showTrayChanged) m_hooks.showTrayChanged(value);
    m_settings.writeBool(kShowTray.section, kShowTray.key, value);
}

void OptionState::SetGreyScale(bool value) {
    m_options.GreyScale = value;
    m_settings.writeBool(kGreyScale.section, kGreyScale.key, value);
}

void OptionState::AssignInterval(std::int32_t seconds) {
    m_options.Interval = seconds;
    if (m_hooks.intervalAssigned) m_hooks.intervalAssigned(seconds);
}

void OptionState::LoadSettingsAndList(const std::string& path) {
    ListUpdate update(m_list);
    // The count line is shown however the load ends.
    struct ShowCount {
        const Hooks& hooks;
        ~ShowCount() {
            if (hooks.listLoaded) hooks.listLoaded();
        }
    } showCount{m_hooks};

    // Neither a bad Interval nor a Settings.ini that cannot be written may cost the user
    // the list: the load goes on and the first such error is raised at the end.
    std::optional<std::runtime_error> firstError;
    auto keepGoing = [&firstError](auto&& step) {
        try {
            step();
        } catch (const std::runtime_error& e) {
            if (!firstError) firstError = e;
        }
    };
    auto readBool = [this](const BoolKey& k) { return m_settings.readBool(k.section, k.key, k.atLoad); };
    keepGoing([&] { SetDisableCycling(readBool(kDisableCycling)); });
    keepGoing([&] { SetShowTray(readBool(kShowTray)); });
    SetRandom(readBool(kRandom));
    keepGoing([&] { SetGreyScale(readBool(kGreyScale)); });
    SetStretchLarger(readBool(kStretchLarger));
    SetStretchSmaller(readBool(kStretchSmaller));

    try {
        AssignInterval(ConvertInterval(m_settings.readString(kOptions, kInterval, kIntervalDefault)));
    } catch (const IntervalError& e) {
        if (!firstError) firstError = e;
        AssignInterval(kFallbackInterval);
    }

    m_options.UseMask = readBool(kUseMask);
    m_options.ShowImages = readBool(kShowImages);
    m_options.SaveImage = readBool(kSaveImage);
    if (m_hooks.optionsLoaded) m_hooks.optionsLoaded(m_options.DisableCycling);

    if (platform::FileExists(path)) {
        WallpaperList loaded;
        bool saveImage = m_options.SaveImage;
        std::optional<ListFileError> refused;
        try {
            ReadListFile(path, loaded, saveImage);
        } catch (const ListFileError& e) {
            refused = e;
        }
        if (!refused) {
            m_list.ReplaceWith(loaded);
            m_options.SaveImage = saveImage;
            keepGoing([&] { recordList(path); });
        } else {
            const bool partial = !loaded.empty();
            std::string message = refused->what();
            // Only a file that List names (or is about to) could be saved over.
            if (partial || path == ListFilePath()) message += protectRefusedFile(path, partial);
            if (partial) {
                m_list.ReplaceWith(loaded);
                m_options.SaveImage = saveImage;
            }
            throw ListFileError(message);
        }
    }
    if (firstError) throw *firstError;
}

std::string OptionState::protectRefusedFile(const std::string& path, bool becomesList) {
    std::string told;
    std::string listPath = path;
    try {
        const std::string aside = SetAsideDamagedListFile(path);
        told = "\n\nThe file is kept as it was under the name \"" + aside + "\".";
    } catch (const ListFileError& e) {
        listPath = FreeListFileNameBeside(path);
        told = "\n\nThe file could not be set aside (" + std::string(e.what()) +
               "); it is left as it was, and the list will be saved to \"" + listPath + "\" instead.";
    }
    if (becomesList || listPath != path) {
        try {
            recordList(listPath);
        } catch (const IniWriteError&) {
            // Kept in memory all the same; the load has its own error to show.
        }
    }
    return told;
}

void OptionState::recordList(const std::string& value) {
    try {
        m_settings.writeString(kOptions, kList, value);
        m_unwrittenList.reset();
    } catch (const IniWriteError&) {
        m_unwrittenList = value;
        throw;
    }
}

std::string OptionState::listValue(const std::string& whenAbsent) const {
    if (m_unwrittenList) return *m_unwrittenList;
    return m_settings.readString(kOptions, kList, whenAbsent);
}

std::string OptionState::ListFilePath() const { return listValue(m_systemPath + std::string(kDefaultListFile)); }

std::string OptionState::ListFileForSave(const std::string& whenAbsent) const {
    const std::string list = listValue(whenAbsent);
    if (list.find('/') != std::string::npos) return list;
    const std::string standard = m_systemPath + std::string(kDefaultListFile);
    if (ListFileNameIsFree(standard) || m_written.count(standard) > 0) return standard;
    return FreeListFileNameBeside(standard);
}

void OptionState::SaveList(const std::string& path) {
    const std::string keptTitle = m_hooks.title ? m_hooks.title() : std::string();
    if (m_hooks.setTitle)
        m_hooks.setTitle(m_hooks.translate ? m_hooks.translate("Saving FileList...") : "Saving FileList...");
    struct RestoreTitle {
        const Hooks& hooks;
        const std::string& title;
        ~RestoreTitle() {
            if (hooks.setTitle) hooks.setTitle(title);
        }
    } restore{m_hooks, keptTitle};

    // A Settings.ini that cannot be written must not keep the list itself from being saved.
    std::optional<IniWriteError> settingsError;
    auto write = [&](auto&& step) {
        try {
            step();
        } catch (const IniWriteError& e) {
            if (!settingsError) settingsError = e;
        }
    };
    write([&] { m_settings.writeInteger(kOptions, kCurrIndex, m_options.CurrIndex); });
    if (FolderPartExists(path)) {
        bool saved = false;
        try {
            WriteListFile(path, m_list, m_options.SaveImage, m_options.ShowImages);
            saved = true;
            m_written.insert(path);
        } catch (const std::exception&) {
        }
        write([&] { recordList(saved ? path : std::string()); });
    }
    if (settingsError) throw *settingsError;
}

}  // namespace kalidrome
