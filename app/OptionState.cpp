#include "OptionState.h"

#include <cerrno>
#include <optional>
#include <sys/stat.h>

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
    // Everything the load writes reaches Settings.ini in one rewrite.
    IniFile::Batch batch(m_settings);
    m_recordedList.reset();
    auto commit = [&] {
        try {
            batch.commit();
        } catch (const IniWriteError& e) {
            // List stays in memory, so a save never goes to a list file no longer in use.
            if (m_recordedList) m_unwrittenList = m_recordedList;
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
    m_options.PicturePerMonitor = readBool(kPicturePerMonitor);
    m_options.MatchOrientation = readBool(kMatchOrientation);
    if (m_hooks.optionsLoaded) m_hooks.optionsLoaded(m_options.DisableCycling);

    struct stat st {};
    // Anything at path counts (a pipe, a folder): what cannot be read is said, not skipped.
    if (::stat(path.c_str(), &st) == 0) {
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
            remember(path);
            keepGoing([&] { recordList(path); });
        } else {
            const bool partial = !loaded.empty();
            std::string message = refused->what();
            // Only a file that List names (or is about to) could be saved over.
            if (partial || path == ListFilePath()) message += protectRefusedFile(path, partial, refused->unreadable());
            if (partial) {
                m_list.ReplaceWith(loaded);
                m_options.SaveImage = saveImage;
            }
            commit();
            throw ListFileError(message);
        }
    }
    commit();
    if (firstError) throw *firstError;
}

std::string OptionState::translate(std::string_view text) const {
    return m_hooks.translate ? m_hooks.translate(text) : std::string(text);
}

void OptionState::remember(const std::string& path) {
    if (const std::optional<ListFileStamp> stamp = StampListFile(path)) m_stamps[path] = *stamp;
    else m_stamps.erase(path);
}

std::string OptionState::protectRefusedFile(const std::string& path, bool becomesList, bool unreadable) {
    std::string told;
    std::string listPath = path;
    try {
        // A file that cannot be read is no damaged list: it stays where it is.
        if (unreadable) throw ListFileError("it cannot be read");
        const std::string aside = SetAsideDamagedListFile(path);
        told = "\n\nThe file is kept as it was under the name \"" + aside + "\".";
    } catch (const ListFileError& e) {
        listPath = FreeListFileNameBeside(path);
        told = unreadable ? "\n\n" + translate("It is left as it is, and the list will be saved here instead:") + "\n" +
                                listPath
                          : "\n\nThe file could not be set aside (" + std::string(e.what()) +
                                "); it is left as it was, and the list will be saved to \"" + listPath +
                                "\" instead.";
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
    m_recordedList = value;
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

namespace {

// Why a save failed, in words a user acts on.
std::string SaveFailureReason(const ListFileError& e, const std::function<std::string(std::string_view)>& translate) {
    switch (e.systemError()) {
    case ENOSPC:
    case EDQUOT:
        return translate("There is no space left on the disk.");
    case EROFS:
    case EACCES:
    case EPERM:
        return translate("The file or its folder is read-only.");
    default:
        return e.what();
    }
}

}  // namespace

void OptionState::SaveList(const std::string& path) {
    const std::string keptTitle = m_hooks.title ? m_hooks.title() : std::string();
    if (m_hooks.setTitle) m_hooks.setTitle(translate("Saving FileList..."));
    struct RestoreTitle {
        const Hooks& hooks;
        const std::string& title;
        ~RestoreTitle() {
            if (hooks.setTitle) hooks.setTitle(title);
        }
    } restore{m_hooks, keptTitle};

    // CurrIndex and List reach Settings.ini in one rewrite; a Settings.ini that cannot be
    // written must not keep the list itself from being saved.
    IniFile::Batch batch(m_settings);
    m_recordedList.reset();
    std::optional<std::string> listError;
    m_settings.writeInteger(kOptions, kCurrIndex, m_options.CurrIndex);
    if (FolderPartExists(path)) {
        std::string target = path;
        // A file read or written by this run that has changed since belongs to someone else now.
        const auto known = m_stamps.find(path);
        if (known != m_stamps.end()) {
            const std::optional<ListFileStamp> now = StampListFile(path);
            if (now && *now != known->second) target = FreeListFileNameBeside(path);
        }
        try {
            WriteListFile(target, m_list, m_options.SaveImage, m_options.ShowImages);
            m_written.insert(target);
            remember(target);
            try {
                recordList(target);
            } catch (const IniWriteError&) {
                // Not in a batch's way: the commit below tells.
            }
            if (target != path)
                listError = translate("The list file was changed by another program since Kalidrome read it, so it "
                                      "was left as it is:") +
                            "\n" + path + "\n\n" + translate("The list was saved here instead:") + "\n" + target;
        } catch (const ListFileError& e) {
            // List keeps naming the file that is still intact; the list stays in memory.
            listError = translate("The list could not be saved:") + "\n" + target + "\n\n" +
                        SaveFailureReason(e, [this](std::string_view t) { return translate(t); }) + "\n\n" +
                        translate("The list is kept in Kalidrome and saved again at the next save.");
        }
    }
    std::optional<IniWriteError> settingsError;
    try {
        batch.commit();
    } catch (const IniWriteError& e) {
        if (m_recordedList) m_unwrittenList = m_recordedList;
        settingsError = e;
    }
    if (listError) throw ListSaveError(*listError + (settingsError ? "\n\n" + std::string(settingsError->what()) : ""));
    if (settingsError) throw *settingsError;
}

}  // namespace kalidrome
