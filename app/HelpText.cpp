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
    text += std::string(HelpUndoSwitch) + "\t\t" + HelpUndoText + "\r";
    text += std::string(HelpHideSwitch) + "\t" + HelpHideText + "\r";
    text += std::string(HelpShowSwitch) + "\t" + HelpShowText + "\r";
    text += std::string(HelpAttributesSwitch) + "\t" + HelpAttributesText + "\r";
    text += std::string(HelpDryRunSwitch) + "\t\t" + HelpDryRunText;
    return text;
}

}  // namespace quorvane
