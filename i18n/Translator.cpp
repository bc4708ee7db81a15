#include "Translator.h"

namespace kalidrome {

Translator::Translator(std::string systemPath) : m_systemPath(std::move(systemPath)) {}

void Translator::SetCurrentLanguage(std::string_view language) {
    m_currentLanguage = std::string(language);
    m_file.setPath(m_currentLanguage.empty() ? std::string() : LanguageFilePath(m_currentLanguage));
}

std::string Translator::Translate(std::string_view text, std::string_view section) const {
    if (m_currentLanguage.empty()) return std::string(text);
    return m_file.translate(text, section);
}

std::string Translator::LanguageFilePath(std::string_view language) const {
    return kalidrome::LanguageFilePath(m_systemPath, language);
}

bool Translator::LanguageFileExists(std::string_view language) const {
    return kalidrome::LanguageFileExists(m_systemPath, language);
}

}  // namespace kalidrome
