#include "ControlTable.h"

using K = ControlKind;

const std::array<ControlSpec, 19> frmMainControls = {{
    {"Label4", K::Label, "GSID List :", 240, 280, 855, 255, 14, nullptr, false},
    {"cmbGsidList", K::List, "", 1080, 240, 1245, 315, 13,
     "Drop a file here to add its contents to the GSID list.", false},
    {"btnGetInFile", K::Button, "Browse", 2360, 250, 795, 285, 8,
     "Browse for a file here to add its contents to the GSID list.", false},
    {"lblCount", K::Label, "0 GSID Data Sheets Loaded", 3360, 280, 2475, 255, 10, nullptr, false},
    {"btnRemove", K::Button, "Remove Selected GSID", 240, 780, 2055, 285, 17,
     "Highlight an entry on the GSID list and click here to remove it from the list.", false},
    {"txtAdd", K::TextBox, "", 2685, 780, 1785, 285, 15,
     "Type GSID numbers or paste them from the clipboard here.", false},
    {"btnPaste", K::Button, "Paste Clipboard", 4515, 780, 1335, 285, 18,
     "Add the contents of either the clipboard or the adjacent text box (if not blank) to the "
     "GSID List.",
     false},
    {"Label2", K::Label, "Output File  (Must End With .PDF)", 240, 1320, 2535, 255, 5, nullptr,
     false},
    {"btnEnglish", K::Radio, "English", 3000, 1300, 855, 255, 2, nullptr, false},
    {"btnMetric", K::Radio, "Metric", 3960, 1300, 735, 255, 3, nullptr, false},
    {"txtOutFile", K::TextBox, "", 240, 1560, 4695, 285, 4,
     "The output file must have a .pdf extension.  It will contain data sheets for all entered "
     "GSID's.",
     false},
    {"btnGetOutFile", K::Button, "Browse", 5040, 1560, 795, 285, 9, nullptr, false},
    {"btnAbout", K::Button, "About", 465, 2100, 795, 325, 1, nullptr, false},
    {"btnHelp", K::Button, "Help", 1500, 2100, 795, 325, 12, nullptr, false},
    {"btnClear", K::Button, "Clear", 2535, 2100, 795, 325, 7,
     "Clear all entered data and start over.", false},
    {"btnContinue", K::Button, "Continue", 3585, 2100, 795, 325, 6, "Build the PDF file.", false},
    {"btnExit", K::Button, "Exit", 4620, 2100, 795, 325, 0, nullptr, false},
    {"txtInFile", K::TextBox, "", 2685, 780, 1785, 285, 16,
     "Drop a file, browse to a file, or paste the clipboard contents.", true},
    {"lblCopyCount", K::Label, "", 5490, 2430, 600, 210, 11, nullptr, true},
}};
