#include "core/documents/parameter_choices.h"

namespace quillner {

QStringList choiceTexts(std::span<const ParameterChoice> choices)
{
    QStringList texts;
    texts.reserve(qsizetype(choices.size()));
    for (const ParameterChoice& choice : choices)
        texts.append(QString::fromLatin1(choice.text));
    return texts;
}

const ParameterChoice* choiceWithCode(std::span<const ParameterChoice> choices, int code)
{
    for (const ParameterChoice& choice : choices) {
        if (choice.bankCode == code)
            return &choice;
    }
    return nullptr;
}

int bankCodeOfIndex(std::span<const ParameterChoice> choices, int index, int fallback)
{
    return index >= 0 && index < int(choices.size()) ? choices[size_t(index)].bankCode : fallback;
}

} // namespace quillner
