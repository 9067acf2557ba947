// Command-state helpers shared by the frame and the children that own no
// document.
#pragma once

#include "frame/frameapi.h"

namespace orvalle {

// Turns off every document command: the answer of the log to the timer's
// question, and the frame's DisableChildCommands.
inline void DisableDocumentCommands(FrameApi &frame) {
  for (Cmd c : {Cmd::FileSaveItem, Cmd::FileSaveAsItem, Cmd::TBSave})
    frame.enable(c, false);
  frame.SetEditItems(false, false);
  for (Cmd c :
       {Cmd::TBWordWrap, Cmd::TBSelectAll, Cmd::CTxtFile, Cmd::Replot, Cmd::MenuChart,
        Cmd::TBProcess, Cmd::TBReplot, Cmd::TBExport, Cmd::TBAxis, Cmd::TBTitles, Cmd::TBPrint,
        Cmd::FilePrintItem, Cmd::FileExport, Cmd::FileClose, Cmd::CopytoClipBoard2})
    frame.enable(c, false);
}

} // namespace orvalle
