// The gadget library: its start-up step and the operations that reach any gadget by its number
// through its gadget type.
#include "gadget.h"
#include "gadget_kind.h"

#include <commctrl.h>

void GadgetLibraryInit(void) {
  GadgetTableInit();  // the default GUI font, the gadget table and each thread's gadget state
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_TAB_CLASSES | ICC_DATE_CLASSES | ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES;
  InitCommonControlsEx(&controls);
}

int32_t GadgetSetState(int32_t number, int32_t value) {
  GadgetRecord* gadget = GadgetFind(number);
  if (gadget == nullptr || gadget->type == nullptr || gadget->type->setState == nullptr) return 0;
  return gadget->type->setState(gadget, value);
}

int32_t GadgetGetState(int32_t number) {
  GadgetRecord* gadget = GadgetFind(number);
  if (gadget == nullptr || gadget->type == nullptr || gadget->type->getState == nullptr) return 0;
  return gadget->type->getState(gadget);
}

HWND GadgetGetHandle(int32_t number) {
  GadgetRecord* gadget = GadgetFind(number);
  return gadget != nullptr ? gadget->handle : nullptr;
}
