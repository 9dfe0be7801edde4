#include "SystemError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zrv::text {

std::string systemErrorText(int errnum)
{
    switch (errnum) {
    case ENOENT: return "нет такого файла или папки";
    case EACCES:
    case EPERM: return "нет прав доступа";
    case EISDIR: return "это папка, а не файл";
    case ENOTDIR: return "часть пути не является папкой";
    case ENOSPC: return "на диске нет места";
    case EDQUOT: return "превышена дисковая квота";
    case EROFS: return "файловая система только для чтения";
    case ENAMETOOLONG: return "слишком длинное имя файла";
    case ELOOP: return "слишком много символических ссылок в пути";
    case EEXIST: return "файл уже существует";
    case EBUSY: return "устройство или ресурс занят";
    case ETXTBSY: return "файл занят";
    case EIO: return "ошибка ввода-вывода";
    case EMFILE:
    case ENFILE: return "открыто слишком много файлов";
    case ENOMEM: return "не хватает памяти";
    case EFBIG: return "файл слишком велик";
    case ENXIO:
    case ENODEV: return "нет такого устройства";
    case EINVAL: return "недопустимый аргумент";
    case ENOTTY: return "устройство не является последовательным портом";
    case ECONNREFUSED: return "в соединении отказано";
    case ETIMEDOUT: return "время ожидания соединения истекло";
    case EHOSTUNREACH: return "узел недоступен";
    case ENETUNREACH: return "сеть недоступна";
    case ECONNRESET: return "соединение сброшено другой стороной";
    case EPIPE: return "соединение разорвано";
    case EAGAIN: return "ресурс временно недоступен";
    case 0: return "неизвестная ошибка";
    default: return "ошибка системы " + std::to_string(errnum) + " (" + std::strerror(errnum) + ")";
    }
}

bool readSmallFile(const std::string& path, std::size_t maxBytes, std::string* bytes, std::string* error)
{
    const auto fail = [error](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(systemErrorText(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return fail(systemErrorText(e));
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail(systemErrorText(EISDIR));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("это не обычный файл");
    }
    if (std::size_t(st.st_size) > maxBytes) {
        ::close(fd);
        return fail("файл слишком велик (" + std::to_string(st.st_size) + " байт)");
    }
    bytes->clear();
    char buf[65536];
    int failure = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            bytes->append(buf, std::size_t(n));
            // It grew while we read: refuse it rather than take a part.
            if (bytes->size() > maxBytes) {
                ::close(fd);
                return fail("файл слишком велик (больше " + std::to_string(maxBytes) + " байт)");
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            failure = errno;
            break;
        }
    }
    ::close(fd);
    if (failure) return fail(systemErrorText(failure));
    return true;
}

}  // namespace zrv::text
