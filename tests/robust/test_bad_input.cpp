// Malformed sound files, made here, opened through the window's Open and Play
// as a user would: truncated headers, absurd sizes, rates and channel
// counts, chunks that point past the end, empty files, random bytes behind a
// header, and seeded byte-level damage to good files. A file that cannot be
// played gives exactly one error naming it; one that can is played and
// stopped. Never a crash or a hang, and the file itself is never changed.
#include <QtEndian>

#include "RobustUtil.h"

using namespace robust;

namespace {

void Put16(QByteArray& b, int at, quint16 v) { qToLittleEndian(v, b.data() + at); }
void Put32(QByteArray& b, int at, quint32 v) { qToLittleEndian(v, b.data() + at); }

struct WavFields {
    quint16 tag = 1, channels = 2, bits = 16;
    quint32 rate = 44100;
    quint32 byteRate = 0, blockAlign = 0; // 0: derived from the rest
    quint32 dataFrames = 200;
    qint64 claimedData = -1, claimedRiff = -1, claimedFmt = -1; // -1: the true size
};

// A canonical 16-byte-fmt WAV with `f`'s fields and noise as its data.
QByteArray Wav(const WavFields& f)
{
    const quint32 block = f.blockAlign ? f.blockAlign : quint32(f.channels * ((f.bits + 7) / 8));
    QByteArray data(int(qMin<qint64>(qint64(f.dataFrames) * block, 1 << 22)), 0);
    std::mt19937 random(f.rate + f.channels);
    for (char& c : data)
        c = char(random());
    QByteArray b(44, 0);
    memcpy(b.data(), "RIFF", 4);
    Put32(b, 4, quint32(f.claimedRiff >= 0 ? f.claimedRiff : 36 + data.size()));
    memcpy(b.data() + 8, "WAVEfmt ", 8);
    Put32(b, 16, quint32(f.claimedFmt >= 0 ? f.claimedFmt : 16));
    Put16(b, 20, f.tag);
    Put16(b, 22, f.channels);
    Put32(b, 24, f.rate);
    Put32(b, 28, f.byteRate ? f.byteRate : f.rate * block);
    Put16(b, 32, quint16(block));
    Put16(b, 34, f.bits);
    memcpy(b.data() + 36, "data", 4);
    Put32(b, 40, quint32(f.claimedData >= 0 ? f.claimedData : data.size()));
    return b + data;
}

QByteArray SoundBytes(int format, int rate, int channels, int frames)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("x");
    WriteSound(path, format, rate, channels, frames, 3);
    return ReadBytes(path);
}

} // namespace

class BadInputTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString work_;
    ErrorLog* errors_ = nullptr;

private slots:
    void initTestCase()
    {
        Application->Initialize();
        QDir(dir_.path()).mkdir("work");
        work_ = dir_.filePath("work");
        WriteWav(work_ + "/test1.wav", 2, 4410);
        qputenv("SDL_DISKAUDIOFILE", "/dev/null");
        qputenv("SDL_DISKAUDIOFILEIN", "/dev/null");
    }

    void openAndPlay_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("playable"); // false: must be refused; true: may play
        auto wav = [](auto change) {
            WavFields f;
            change(f);
            return Wav(f);
        };
        const QByteArray good = Wav({});
        QTest::newRow("0 bytes") << QByteArray() << false;
        QTest::newRow("RIFF only") << good.left(4) << false;
        QTest::newRow("RIFF WAVE only") << good.left(12) << false;
        QTest::newRow("cut inside fmt") << good.left(24) << false;
        QTest::newRow("cut after fmt") << good.left(36) << false;
        QTest::newRow("cut inside data header") << good.left(42) << true;
        QTest::newRow("header, no sound") << good.left(44) << true;
        QTest::newRow("0 channels") << wav([](WavFields& f) { f.channels = 0; f.blockAlign = 4; }) << false;
        QTest::newRow("65535 channels") << wav([](WavFields& f) { f.channels = 65535; f.dataFrames = 1; }) << false;
        QTest::newRow("300 channels") << wav([](WavFields& f) { f.channels = 300; f.dataFrames = 10; }) << true;
        QTest::newRow("9 channels") << wav([](WavFields& f) { f.channels = 9; }) << true;
        QTest::newRow("rate 0") << wav([](WavFields& f) { f.rate = 0; f.byteRate = 4; }) << false;
        QTest::newRow("rate 4294967295") << wav([](WavFields& f) { f.rate = 0xFFFFFFFF; f.byteRate = 4; }) << false;
        QTest::newRow("rate 2000000000") << wav([](WavFields& f) { f.rate = 2000000000; f.byteRate = 4; }) << true;
        QTest::newRow("rate 1") << wav([](WavFields& f) { f.rate = 1; f.dataFrames = 3; }) << true;
        QTest::newRow("0 bits") << wav([](WavFields& f) { f.bits = 0; f.blockAlign = 4; }) << false;
        QTest::newRow("7 bits") << wav([](WavFields& f) { f.bits = 7; }) << true;
        QTest::newRow("1000 bits") << wav([](WavFields& f) { f.bits = 1000; f.blockAlign = 4; }) << false;
        QTest::newRow("block align 0") << wav([](WavFields& f) { f.blockAlign = 0; f.bits = 0; }) << false;
        QTest::newRow("unknown codec") << wav([](WavFields& f) { f.tag = 0x1234; }) << false;
        QTest::newRow("IMA ADPCM, no block") << wav([](WavFields& f) { f.tag = 0x11; f.bits = 4; f.blockAlign = 0; }) << true;
        QTest::newRow("MS ADPCM, bad block") << wav([](WavFields& f) { f.tag = 0x2; f.bits = 4; f.blockAlign = 3; }) << true;
        QTest::newRow("data past the end") << wav([](WavFields& f) { f.claimedData = 0xFFFFFFF0; }) << true;
        QTest::newRow("RIFF past the end") << wav([](WavFields& f) { f.claimedRiff = 0xFFFFFFFF; }) << true;
        QTest::newRow("fmt past the end") << wav([](WavFields& f) { f.claimedFmt = 0x7FFFFFFF; }) << false;
        {
            QByteArray b = good;
            b.insert(36, QByteArray("junk\xF0\xFF\xFF\x7F", 8) + QByteArray(16, 'j'));
            QTest::newRow("chunk past the end before data") << b << false;
        }
        {
            QByteArray b = good.left(44);
            std::mt19937 random(11);
            for (int i = 0; i < 20000; ++i)
                b += char(random());
            Put32(b, 40, 20000);
            QTest::newRow("random bytes behind a header") << b << true;
        }
        const QByteArray aiff = SoundBytes(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 8000, 1, 400);
        {
            QByteArray b = aiff;
            const int comm = int(b.indexOf("COMM"));
            memset(b.data() + comm + 16, 0, 10); // 80-bit rate of 0
            QTest::newRow("AIFF rate 0") << b << false;
            b = aiff;
            b[comm + 8] = 0;
            b[comm + 9] = 0;
            QTest::newRow("AIFF 0 channels") << b << false;
            QTest::newRow("AIFF cut") << aiff.left(30) << false;
        }
        const QByteArray flac = SoundBytes(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, 4000);
        QTest::newRow("FLAC cut in half") << flac.left(flac.size() / 2) << true;
        QTest::newRow("FLAC marker, junk") << QByteArray("fLaC") + QByteArray(200, '\x7f') << false;
        QTest::newRow("Ogg marker, junk") << QByteArray("OggS") + QByteArray(200, '\x01') << false;
        QTest::newRow("ID3 tag, junk") << QByteArray("ID3\x04\x00\x00\x7f\x7f\x7f\x7f", 10) + QByteArray(300, '\xff') << true;
        {
            QByteArray au = SoundBytes(SF_FORMAT_AU | SF_FORMAT_PCM_16, 8000, 1, 400);
            qToBigEndian<quint32>(0x7FFFFFF0, au.data() + 4); // data offset past the end
            QTest::newRow("AU offset past the end") << au << true;
        }
        {
            QByteArray rf64 = SoundBytes(SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 8000, 1, 400);
            const int ds64 = int(rf64.indexOf("ds64"));
            qToLittleEndian<quint64>(0x7FFFFFFFFFFFFFFFull, rf64.data() + ds64 + 16); // data size
            qToLittleEndian<quint64>(0x7FFFFFFFFFFFFFFFull, rf64.data() + ds64 + 24); // frames
            QTest::newRow("RF64 absurd sizes") << rf64 << true;
        }
        {
            QByteArray w64 = SoundBytes(SF_FORMAT_W64 | SF_FORMAT_PCM_16, 8000, 1, 400);
            qToLittleEndian<quint64>(0x7FFFFFFFFFFFFFFFull, w64.data() + 16); // file size
            QTest::newRow("W64 absurd size") << w64 << true;
        }
        // Seeded damage to a few header bytes of a good file.
        std::mt19937 random(2024);
        for (int i = 0; i < 40; ++i) {
            QByteArray b = good;
            for (int n = 1 + int(random() % 4); n > 0; --n)
                b[int(random() % 48)] = char(random());
            QTest::newRow(qPrintable(QString("damaged header %1").arg(i))) << b << true;
        }
    }

    void init()
    {
        QVERIFY(QDir::setCurrent(work_));
        errors_ = new ErrorLog;
        Application->CreateForm(Form1);
        Form1->Show();
    }
    void cleanup()
    {
        delete Form1;
        Form1 = nullptr;
        delete errors_;
        QDir::setCurrent(QDir::tempPath());
    }

    void openAndPlay()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, playable);
        const QString path = dir_.filePath("bad.wav");
        WriteBytes(path, bytes);
        QStringList& errors = errors_->messages;
        {
            DialogAnswerer answer(path);
            Click(Form1->btnopen);
        }
        QVERIFY(openPending);
        Click(Form1->Play);
        if (errors.isEmpty()) {
            QVERIFY2(playable, "a broken file was played");
            QTest::qWait(20);
            QTest::keyClick(Form1->ScrollBar1->Widget(), Qt::Key_Right);
            Click(Form1->btnstop);
            QVERIFY2(errors.isEmpty(), qPrintable(errors_->Joined()));
            QCOMPARE(ReadBytes(path), bytes);
        } else {
            QVERIFY2(errors.size() == 1, qPrintable(errors_->Joined()));
            QVERIFY2(errors[0].contains("\"" + path + "\""), qPrintable(errors[0]));
        }
        QCOMPARE(QDir(work_).entryList(QDir::Files | QDir::Hidden), QStringList("test1.wav"));
    }
};

QTEST_MAIN(BadInputTest)
#include "test_bad_input.moc"
