// See reply_styles.h. Every reply of these protocols is matched with its bytes read high byte
// first; the loader port's replies carry a BCC that is read as a plain value and not checked.
#include "protocols/reply_styles.h"

namespace qb {
namespace {

void AddCnet(FrameReceiver& r) {
  r.AddRecvStyle(
      u"0x06,SlvAddr[2h],'r','S','S',BlocCnt[2h],DataCnt[2h],Data[DataCnt*2~4h],0x03,"
      u"Bcc[2h]",
      u"LSMK", u"READ_ACK", true);
  r.DefineRecvChecksum(u"Bcc", 0, 9, u"plus");
  r.DefineRecvRepeat(u"BlocCnt", 6, 2);
  r.AddRecvStyle(u"0x15,SlvAddr[2h],'r','S','S',ErrCode[4h],0x03,Bcc[2h]", u"LSMK", u"READ_NAK",
                 true);
  r.DefineRecvChecksum(u"Bcc", 0, 7, u"plus");
  r.AddRecvStyle(u"0x06,SlvAddr[2h],'w','S','S',0x03,Bcc[2h]", u"LSMK", u"WRITE_ACK", true);
  r.DefineRecvChecksum(u"Bcc", 0, 6, u"plus");
  r.AddRecvStyle(u"0x15,SlvAddr[2h],'w','S','S',ErrCode[4h],0x03,Bcc[2h]", u"LSMK", u"WRITE_NAK",
                 true);
  r.DefineRecvChecksum(u"Bcc", 0, 7, u"plus");
}

void AddMkld(FrameReceiver& r) {
  r.AddRecvStyle(u"0x15,ErrMsg[1h],bcc[2h],0x04", u"MKLD", u"NAK", true);
  r.AddRecvStyle(u"0x06,'r',RxDataAndBcc[~516s],0x04", u"MKLD", u"READ_ACK", true);
  r.AddRecvStyle(u"0x06,'w',bcc[2h],0x04", u"MKLD", u"WRITE_ACK", true);
  r.AddRecvStyle(u"0x06,'n',bcc[2h],0x04", u"MKLD", u"AND_ACK", true);
  r.AddRecvStyle(u"0x06,'o',bcc[2h],0x04", u"MKLD", u"OR_ACK", true);
}

void AddMbfx(FrameReceiver& r) {
  r.AddRecvStyle(u"0x02,SlvAddr[2d],'F','F',DataBlock[~200s],0x03,Sum[2h]", u"MBFX", u"READ_ACK",
                 true);
  r.DefineRecvChecksum(u"Sum", 1, 5, u"plus");
  r.AddRecvStyle(u"0x06,SlvAddr[2d],'F','F'", u"MBFX", u"WRITE_ACK", true);
}

}  // namespace

bool RegisterReplyStyles(FrameReceiver& receiver, std::u16string_view protocol) {
  if (protocol == u"LSMK") {
    AddCnet(receiver);
  } else if (protocol == u"MKLD") {
    AddMkld(receiver);
  } else if (protocol == u"MBFX") {
    AddMbfx(receiver);
  } else {
    return false;
  }
  return true;
}

}  // namespace qb
