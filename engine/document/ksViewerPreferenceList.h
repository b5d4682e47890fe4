// The six viewer preferences as a list, in the order the settings dialog and the command
// line name them: hide toolbar, hide menu bar, hide window UI, fit window, centre window,
// display document title.
#pragma once
#include "document/ksCstPDFDoc.h"

inline constexpr int kViewerPreferenceCount = 6;

inline bool ViewerPreference(const TksPDFViewerPreferences& preferences, int position) {
  switch (position) {
    case 0: return preferences.HideToolbar();
    case 1: return preferences.HideMenubar();
    case 2: return preferences.HideWindowUI();
    case 3: return preferences.FitWindow();
    case 4: return preferences.CenterWindow();
    default: return preferences.DisplayDocTitle();
  }
}

inline void SetViewerPreference(TksPDFViewerPreferences& preferences, int position, bool value) {
  switch (position) {
    case 0: preferences.SetHideToolbar(value); break;
    case 1: preferences.SetHideMenubar(value); break;
    case 2: preferences.SetHideWindowUI(value); break;
    case 3: preferences.SetFitWindow(value); break;
    case 4: preferences.SetCenterWindow(value); break;
    default: preferences.SetDisplayDocTitle(value); break;
  }
}
