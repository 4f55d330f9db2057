#include "app/HelpText.h"

#include "text/Texts.h"

namespace quorvane {

std::string BuildHelpText() {
    using namespace texts;
    std::string text = HelpHead;
    // "/F" and "/S" are shorter switches and carry two TABs before their text.
    text += std::string(HelpModifySwitch) + "\t" + HelpModifyText + "\r";
    text += std::string(HelpFindSwitch) + "\t\t" + HelpFindText + "\r";
    text += std::string(HelpLabelSwitch) + "\t" + HelpLabelText + "\r";
    text += std::string(HelpSetSwitch) + "\t\t" + HelpSetText + "\r";
    text += std::string(HelpUndoSwitch) + "\t\t" + HelpUndoText;
    return text;
}

}  // namespace quorvane
