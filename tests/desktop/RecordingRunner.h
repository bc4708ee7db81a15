#pragma once

#include "RunCommand.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kalidrome::test {

// A CommandRunner for table tests of what a desktop runs: it records every command and
// answers from the function given (by default: exit 0, no output), starting nothing.
class RecordingRunner final : public platform::CommandRunner {
public:
    using Answer = std::function<platform::CommandResult(const platform::Command&)>;

    explicit RecordingRunner(Answer answer = {}) : m_answer(std::move(answer)) {}
    void setAnswer(Answer answer) { m_answer = std::move(answer); }

    platform::CommandResult run(const platform::Command& command) override {
        m_commands.push_back(command);
        if (m_answer) return m_answer(command);
        return Success();
    }
    int startDetached(const platform::Command& command) override {
        m_commands.push_back(command);
        return ++m_lastPid;
    }
    void stop(int processId) override { m_stopped.push_back(processId); }

    const std::vector<platform::Command>& commands() const { return m_commands; }
    // Just the argument vectors, for comparing with a table.
    std::vector<std::vector<std::string>> argvs() const {
        std::vector<std::vector<std::string>> out;
        for (const auto& c : m_commands) out.push_back(c.argv);
        return out;
    }
    const std::vector<int>& stopped() const { return m_stopped; }
    void clear() {
        m_commands.clear();
        m_stopped.clear();
    }

    static platform::CommandResult Success(std::string output = {}) {
        platform::CommandResult r;
        r.started = true;
        r.exitCode = 0;
        r.standardOutput = std::move(output);
        return r;
    }
    static platform::CommandResult Failure(int exitCode, std::string error) {
        platform::CommandResult r;
        r.started = true;
        r.exitCode = exitCode;
        r.standardError = std::move(error);
        return r;
    }

private:
    Answer m_answer;
    std::vector<platform::Command> m_commands;
    std::vector<int> m_stopped;
    int m_lastPid = 1000;
};

// Runs commands for real with extra environment entries (a private D-Bus session, a
// temporary XDG_CONFIG_HOME), so that a test reaches its own instance of a desktop component
// without changing its own environment.
class EnvironmentRunner final : public platform::CommandRunner {
public:
    EnvironmentRunner(platform::CommandRunner& inner, std::vector<std::string> environment)
        : m_inner(inner), m_environment(std::move(environment)) {}

    platform::CommandResult run(const platform::Command& command) override {
        ++m_runs;
        return m_inner.run(withEnvironment(command));
    }
    int startDetached(const platform::Command& command) override {
        return m_inner.startDetached(withEnvironment(command));
    }
    void stop(int processId) override { m_inner.stop(processId); }

    int runs() const { return m_runs; }

private:
    platform::Command withEnvironment(platform::Command command) const {
        command.environment.insert(command.environment.begin(), m_environment.begin(), m_environment.end());
        return command;
    }

    platform::CommandRunner& m_inner;
    std::vector<std::string> m_environment;
    int m_runs = 0;
};

}  // namespace kalidrome::test
