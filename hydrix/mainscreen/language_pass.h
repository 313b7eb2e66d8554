// The language pass of the main window: fills the language list, puts the
// catalogue's texts on every caption of the form (the design's captions
// where the catalogue has none), and the texts the window adds to the
// design's (status tips and status lines) in the language on screen.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>

#include "hydrix/mainscreen/frame_context.h"

namespace hx {

class LanguagePass : public QObject {
 public:
  // Takes the form's captions as they stand as the design's: build it
  // before anything changes a caption. `refreshMeasures` puts the last
  // measures back on the labels that show them rather than captions.
  LanguagePass(FrameContext& context, std::function<void()> refreshMeasures);

  // Applies a language to every caption; `fill` first fills the language list.
  void TraduitEcran(const QString& language, bool fill);
  // A text the window adds to the design's, from the catalogue by `code` in
  // the language on screen (English before the list is filled).
  QString Text(const char* code, const char* english) const;

 private:
  void RemplitListeLangues(const QString& language);
  void ListeLangues_Change();
  // Sets the status tips in the language on screen.
  void ApplyAddedTexts();

  FrameContext& ctx_;
  std::function<void()> refreshMeasures_;
  // The captions of the form, before any language or reading changed them:
  // the default texts of the catalogue's entries.
  QHash<QObject*, QString> designCaptions_;
  bool fillingLanguages_ = false;
};

}  // namespace hx
