#include "TForm1Resource.h"

#include "ui_TForm1.h"

namespace {
void BuildTForm1(QWidget* form) {
  static Ui::TForm1 ui;
  ui.setupUi(form);
}
}  // namespace

const vcl::FormResource kTForm1Resource{"TFORM1", &BuildTForm1};
