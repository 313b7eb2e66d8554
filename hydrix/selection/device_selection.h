// Finding the controllers on the bus: count them, probe each with the
// identity command, list those that answer. The list is plain data that the
// device selection window only shows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/dialog_service.h"
#include "hydrix/link/multiusb.h"
#include "hydrix/link/usb_interface.h"

namespace hx {

struct DeviceList {
  std::vector<std::string> texts;  // "Hydrix (11) 1.05", in enumeration order
  std::vector<std::int32_t> ids;   // the unique identifier of each item
  // What tells controllers of one type apart, shown after each text:
  // " · serial 24001001 · id 1001" (no serial when it could not be read).
  std::vector<std::string> details;
  std::vector<std::optional<std::int32_t>> serials;  // each one's serial number, when it could be read
  int selected = -1;                                 // the item of the controller chosen before, or -1
  std::vector<std::int32_t> silent;                  // attached controllers that did not answer the probe
};

// A catalogue text by code in the language on screen, `english` when it has
// none ("%1" stands for the value the text is filled with).
using SelectionTexts = std::function<std::string(const char* code, const char* english)>;

// A listed line ("Hydrix (11) 1.05 · serial 24001001 · id 1001") with its
// words in the language of `text`; the list itself keeps them in English.
std::string ListedInLanguage(const std::string& listed, const SelectionTexts& text);

class DeviceSelection {
 public:
  DeviceSelection(UsbInterface& usb, MULTIUSB& link, LinkState& state, DialogService& dialogs);

  // Probes one controller (no message when it is silent). Returns its text;
  // ELocal tells whether it is a Hydrix (type code 11). TimeOut tells
  // whether it answered; an answer is kept in the link state's Identities.
  std::string LitVersion(std::int32_t UsbID, bool& ELocal);

  // Rebuilds the list: every controller that answers the probe, whatever its
  // type (VoirTout only asks for a fresh enumeration), with its serial number
  // read after the probe. Keeps the current choice when there was one;
  // otherwise UsbID is left on the last controller enumerated. The item of
  // the current controller, else of the preferred one, is selected. A
  // library that cannot be loaded is reported once.
  DeviceList RemplitListe(bool VoirTout);
  // The controller to select when none is chosen yet (the last one chosen in
  // an earlier run); selecting it does not choose it.
  void SetPreferred(std::int32_t id) { preferred_ = id; }

  // The window's events. EnCours is true while the list is rebuilt, so the
  // click that the program's own selection raises is ignored.
  DeviceList Load();
  DeviceList ViewAllClick(bool ticked);
  // A click on item `index`: the controller becomes the choice and, as it
  // has just answered its probe, the link is live (TimeOut cleared). True
  // when the dialog closes.
  bool ListClick(const DeviceList& list, int index);
  // "Cancel": no controller is chosen and the link is given up until the
  // next enumeration.
  void Cancel();
  // The window's close box: with exactly one answering controller that one
  // is chosen; with none or several, none is.
  void CloseBox(const DeviceList& list);
  bool EnCours() const { return enCours_; }
  // What to tell the operator when no controller answered: what to check,
  // and the interface library's own problem when it has one.
  std::string NothingFoundText();
  // Where the window's own texts come from (English until it is set).
  void SetTexts(SelectionTexts text) { text_ = std::move(text); }
  std::string Text(const char* code, const char* english) const {
    return text_ ? text_(code, english) : english;
  }
  int NbAppareils() const { return nbAppareils_; }
  // The serial number (EEPROM 36..39, read without a message), or nothing
  // when a read fails.
  std::optional<std::int32_t> LitNumeroSerie(std::int32_t UsbID);

 private:
  UsbInterface& usb_;
  MULTIUSB& link_;
  LinkState& state_;
  DialogService& dialogs_;
  bool enCours_ = false;
  bool problemShown_ = false;
  int nbAppareils_ = 0;
  std::int32_t preferred_ = 0;
  SelectionTexts text_;
};

}  // namespace hx
