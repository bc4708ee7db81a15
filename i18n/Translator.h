#pragma once

#include <string>
#include <string_view>

#include "LanguageFile.h"

namespace kalidrome {

// The main window's translation state: the current language, the translate operation
// and the two captions of the tray menu's show/hide entry.
//
// Until a language is made current (SetCurrentLanguage, the last step of a successful
// ApplyLanguage), Translate hands every text back unchanged; it never reads a file named
// ".lng". Afterwards it answers from "<System folder><CurrentLanguage>.lng" as that file
// is at the moment of the call (see LanguageFile for the reading rules and the cache).
// User-interface thread only.
class Translator {
public:
    static constexpr std::string_view kDefaultShowCaption = "S&how";
    static constexpr std::string_view kDefaultHideCaption = "&Hide";

    // systemPath ends with "/".
    explicit Translator(std::string systemPath);

    const std::string& systemPath() const { return m_systemPath; }

    const std::string& CurrentLanguage() const { return m_currentLanguage; }
    void SetCurrentLanguage(std::string_view language);

    // The translation of text from section "WordList#" + section of the current
    // language's file, or text itself. Never fails.
    std::string Translate(std::string_view text, std::string_view section) const;

    // The file of a language, for walks over a window's captions that look up a
    // language other than the current one (applying a language makes it current last).
    std::string LanguageFilePath(std::string_view language) const;
    bool LanguageFileExists(std::string_view language) const;

    const std::string& ShowCaption() const { return m_showCaption; }
    const std::string& HideCaption() const { return m_hideCaption; }
    void SetShowCaption(std::string caption) { m_showCaption = std::move(caption); }
    void SetHideCaption(std::string caption) { m_hideCaption = std::move(caption); }
    // The show/hide entry's caption: HideCaption while the window is shown, else ShowCaption.
    const std::string& ShowHideCaption(bool windowShown) const {
        return windowShown ? m_hideCaption : m_showCaption;
    }

private:
    std::string m_systemPath;
    std::string m_currentLanguage;
    LanguageFile m_file;
    std::string m_showCaption{kDefaultShowCaption};
    std::string m_hideCaption{kDefaultHideCaption};
};

}  // namespace kalidrome
