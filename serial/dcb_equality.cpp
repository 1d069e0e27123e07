#include "serial/serial_port.h"

bool operator==(const DCB& a, const DCB& b) {
  return a.DCBlength == b.DCBlength && a.BaudRate == b.BaudRate && a.fBinary == b.fBinary &&
         a.fParity == b.fParity && a.fOutxCtsFlow == b.fOutxCtsFlow &&
         a.fOutxDsrFlow == b.fOutxDsrFlow && a.fDtrControl == b.fDtrControl &&
         a.fDsrSensitivity == b.fDsrSensitivity && a.fTXContinueOnXoff == b.fTXContinueOnXoff &&
         a.fOutX == b.fOutX && a.fInX == b.fInX && a.fErrorChar == b.fErrorChar &&
         a.fNull == b.fNull && a.fRtsControl == b.fRtsControl &&
         a.fAbortOnError == b.fAbortOnError && a.wReserved == b.wReserved && a.XonLim == b.XonLim &&
         a.XoffLim == b.XoffLim && a.ByteSize == b.ByteSize && a.Parity == b.Parity &&
         a.StopBits == b.StopBits && a.XonChar == b.XonChar && a.XoffChar == b.XoffChar &&
         a.ErrorChar == b.ErrorChar && a.EofChar == b.EofChar && a.EvtChar == b.EvtChar &&
         a.wReserved1 == b.wReserved1;
}
