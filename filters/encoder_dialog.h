#pragma once

#include "filters/mpeg4_encoder.h"

// The encoder's configuration dialog: bit rate, keyframe interval and the
// quantizer range, read from and handed to IMpeg4EncoderSettings. Modal, owned
// by `owner` (a QWidget* as a number; 0: no owner); returns when the user closes
// it, S_OK whether the settings were taken or left. OK hands them over; if the
// encoder refuses them the dialog stays open and says why. While the graph runs
// a change takes effect from the next frame, a keyframe.
HRESULT ShowEncoderDialog(OAHWND owner, IMpeg4EncoderSettings* settings);
