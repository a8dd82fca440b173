#include "app/MainFrame.h"

namespace spindle {

void CMainFrame::OnListDoubleClick(int) {}
void CMainFrame::OnListEnterKey(int) {}

}  // namespace spindle
