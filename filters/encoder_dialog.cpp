#include "filters/encoder_dialog.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPointer>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include <cassert>

#include "filters/property_page_base.h"

namespace {

QSpinBox* NewSpinBox(const char* name, int minimum, int maximum, int value, QWidget* parent) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setRange(minimum, maximum);
  box->setValue(value);
  return box;
}

}  // namespace

HRESULT ShowEncoderDialog(OAHWND owner, IMpeg4EncoderSettings* settings) {
  if (!settings) return E_POINTER;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return E_UNEXPECTED;
  assert(QThread::currentThread() == QCoreApplication::instance()->thread() &&
         "the encoder dialog belongs to the window's thread");
  const ComPtr<IMpeg4EncoderSettings> held(settings);
  Mpeg4EncoderSettings current;
  const HRESULT read = held->GetSettings(&current);
  if (FAILED(read)) return read;

  // On the heap: an owner that goes while the dialog is open takes it along.
  QPointer<QDialog> dialog =
      new QDialog(qobject_cast<QWidget*>(reinterpret_cast<QObject*>(owner)));
  dialog->setObjectName(QStringLiteral("encoderDialog"));
  dialog->setWindowTitle(QStringLiteral("Xvid MPEG-4 Codec Configuration"));
  auto* layout = new QVBoxLayout(dialog);
  auto* form = new QFormLayout;
  layout->addLayout(form);

  // Bit rate in kbit/s; 0 leaves it to the encoder, which scales it with the picture.
  QSpinBox* bit_rate = NewSpinBox("bitRate", 0, 50'000, current.bit_rate / 1000, dialog);
  bit_rate->setSuffix(QStringLiteral(" kbit/s"));
  bit_rate->setSpecialValueText(
      QStringLiteral("Automatic (%1 kbit/s at 640 × 480)").arg(Mpeg4Encoder::BitRateFor(640, 480) / 1000));
  form->addRow(QStringLiteral("Bit rate:"), bit_rate);
  QSpinBox* keyframes = NewSpinBox("keyframeInterval", 0, 600, current.keyframe_interval, dialog);
  keyframes->setSuffix(QStringLiteral(" frames"));
  keyframes->setSpecialValueText(QStringLiteral("Automatic (one a second)"));
  form->addRow(QStringLiteral("Keyframe every:"), keyframes);
  QSpinBox* quantizer_min = NewSpinBox("quantizerMin", 1, 31, current.quantizer_min, dialog);
  QSpinBox* quantizer_max = NewSpinBox("quantizerMax", 1, 31, current.quantizer_max, dialog);
  form->addRow(QStringLiteral("Quantizer, finest:"), quantizer_min);
  form->addRow(QStringLiteral("Quantizer, coarsest:"), quantizer_max);
  QString notes = QStringLiteral(
      "While the stream runs, a change takes effect from the next frame, which is sent as a "
      "keyframe.");
  const int most = Mpeg4Encoder::MaxBitRateFor(30, 1);
  if (most < 50'000'000) {
    notes += QStringLiteral(" This system's codec library aims at most at %1 kbit/s at 30 frames a "
                            "second; higher rates are held to that.")
                 .arg(most / 1000);
  }
  auto* note = new QLabel(notes, dialog);
  note->setWordWrap(true);
  layout->addWidget(note);
  QLabel* status = NewValueLabel("status", dialog);
  status->setWordWrap(true);
  status->hide();
  layout->addWidget(status);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [&] {
    Mpeg4EncoderSettings wanted;
    wanted.bit_rate = bit_rate->value() * 1000;
    wanted.keyframe_interval = keyframes->value();
    wanted.quantizer_min = quantizer_min->value();
    wanted.quantizer_max = quantizer_max->value();
    const HRESULT taken = held->SetSettings(wanted);
    if (SUCCEEDED(taken)) {
      dialog->accept();
      return;
    }
    status->setText(QStringLiteral("Not taken: %1").arg(StatusMessage(taken)));
    status->show();
  });
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);

  // Modal: the window's thread keeps dispatching in here.
  dialog->exec();
  delete dialog.data();
  return S_OK;
}
