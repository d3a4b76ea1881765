#pragma once

// Independent reference implementations for cross-checks: coreutils programs
// and Python's standard library, run as child processes.

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

// Runs a program with `input` on stdin and returns its stdout; a failure to
// run it, or a non-zero exit, fails the current test and gives an empty result.
inline QByteArray runTool(const QString &program, const QStringList &arguments, const QByteArray &input)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted()) {
        ADD_FAILURE() << "cannot start " << program.toStdString();
        return {};
    }
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    return process.readAllStandardOutput();
}

// Applies the Python function `f`, defined by `definition`, to every input
// and returns the results in order.
inline QJsonArray pythonMap(const QString &definition, const QJsonArray &inputs)
{
    const QString script = definition + QStringLiteral(
                                            "\nimport json, sys\n"
                                            "inputs = json.loads(sys.stdin.buffer.read().decode('utf-8'))\n"
                                            "sys.stdout.write(json.dumps([f(x) for x in inputs]))\n");
    const QByteArray output = runTool(QStringLiteral("python3"), {QStringLiteral("-c"), script}, QJsonDocument(inputs).toJson(QJsonDocument::Compact));
    const QJsonArray results = QJsonDocument::fromJson(output).array();
    EXPECT_EQ(results.size(), inputs.size()) << output.toStdString();
    return results;
}

inline QJsonArray toJson(const QStringList &strings)
{
    return QJsonArray::fromStringList(strings);
}
