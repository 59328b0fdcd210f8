// A device that splits and delays its answers at random (now and then past
// the 3 s wait) against several hundred random reads and writes: a read that
// is taken brings the device's words for its very registers, one that is not
// leaves the image alone, and at the end every register holds its start word
// or a word the device held for it.
#include "FormFixture.h"
#include "SimProcess.h"

#include <QRandomGenerator>
#include <QtTest>

#include <array>
#include <random>
#include <set>

class TestRandomDevice : public QObject {
    Q_OBJECT
    FormFixture f;

private slots:
    void cleanup() { f.Close(); }

    void randomSplitsAndDelays() {
        const quint32 seed = QRandomGenerator::global()->generate() & 0x7FFFFFFF;
        qInfo("seed %u", seed); // the device's pieces and delays differ per run anyway
        std::mt19937 rnd(seed);
        const auto draw = [&rnd](int lo, int hi) {
            return std::uniform_int_distribution<int>(lo, hi)(rnd);
        };
        testsupport::SimProcess sim;
        QVERIFY2(
            sim.Start({"--plain", "--stall-after", "0", "--mode", "random", QString::number(seed)}),
            qPrintable(sim.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        TMainForm *w = f.form.get();

        // The device's words are told apart by register: each write puts the
        // register's index into the high byte, except for the text length,
        // which the redraw holds at 100 or less. The counter stands still.
        std::array<uint16_t, RegsSize> device{};
        std::array<std::set<uint16_t>, RegsSize> held;
        const auto word = [&draw](int k) {
            return uint16_t(k == core::TextLength ? draw(0, 100) : k << 8 | draw(0, 255));
        };
        const auto writeRange = [&](int first, int n) {
            for (int k = first; k < first + n; ++k) {
                Regs[k] = word(k);
                device[size_t(k)] = Regs[k];
                held[size_t(k)].insert(Regs[k]);
            }
            w->edRRStart->SetValue(40001 + first);
            w->edRRNums->SetValue(n);
            w->btnWriteRangeRegsClick(nullptr);
        };
        writeRange(0, 255);
        held[255].insert(0);
        std::array<uint16_t, RegsSize> start{};
        for (int i = 0; i < RegsSize; ++i)
            Regs[i] = start[size_t(i)] = uint16_t(i == core::TextLength ? 100 : 0xA000 + i);

        int reads = 0, taken = 0;
        for (int op = 0; op < 300; ++op) {
            switch (draw(0, 3)) {
            case 0:
            case 1: {
                const bool all = draw(0, 3) == 0;
                const int first = all ? 0 : draw(0, 255);
                const int n = all ? 255 : std::min(draw(1, 255), RegsSize - first);
                const auto before = std::to_array(Regs);
                if (all) {
                    w->btnReadAllRegsClick(nullptr);
                } else {
                    w->edRRStart->SetValue(40001 + first);
                    w->edRRNums->SetValue(n);
                    w->btnSendRRClick(nullptr);
                }
                ++reads;
                const bool copied = f.LastLine().startsWith(QStringLiteral("Receive: "));
                taken += copied;
                for (int k = 0; k < RegsSize; ++k) {
                    const bool inRange = k >= first && k < first + n;
                    const uint16_t want = inRange && copied ? device[size_t(k)] : before[size_t(k)];
                    QVERIFY2(Regs[k] == want,
                             qPrintable(QStringLiteral("op %1: register %2 holds %3, not %4")
                                            .arg(op)
                                            .arg(k)
                                            .arg(Regs[k])
                                            .arg(want)));
                }
                break;
            }
            case 2: {
                const int k = draw(0, 255);
                Regs[k] = word(k);
                device[size_t(k)] = Regs[k];
                held[size_t(k)].insert(Regs[k]);
                SelRow = k + 1;
                w->pmSendRegisterClick(nullptr);
                break;
            }
            default: {
                const int first = draw(0, 254);
                writeRange(first, std::min(draw(1, 20), RegsSize - first));
                break;
            }
            }
            if (op % 50 == 49) {
                w->Memo1->ClearLines();
                QCoreApplication::processEvents(); // the simulator's output read
            }
        }
        for (int i = 0; i < RegsSize; ++i)
            QVERIFY2(Regs[i] == start[size_t(i)] || held[size_t(i)].count(Regs[i]),
                     qPrintable(QStringLiteral("register %1 holds %2").arg(i).arg(Regs[i])));
        qInfo("%d of %d reads taken", taken, reads);
        // Most answers come whole within the wait: the run proves something.
        QVERIFY2(taken * 2 > reads, qPrintable(QStringLiteral("%1 of %2").arg(taken).arg(reads)));
    }
};

QTEST_MAIN(TestRandomDevice)
#include "tst_random_device.moc"
