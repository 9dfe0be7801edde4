#include "TransactOutcome.h"

namespace zrv {

std::string outcomeGroup(TransactOutcome outcome)
{
    switch (outcome) {
    case TransactOutcome::Ok: return "OK";
    case TransactOutcome::Timeout: return "нет ответа";
    case TransactOutcome::CrcError: return "ошибка CRC";
    case TransactOutcome::Exception: return "исключение";
    case TransactOutcome::Malformed: return "неверный ответ";
    case TransactOutcome::EchoMismatch: return "эхо не совпадает";
    case TransactOutcome::PortLost: return "порт потерян";
    case TransactOutcome::NotSent: return "не отправлено";
    }
    return "?";
}

}  // namespace zrv
