#pragma once

#include <QList>

#include <deque>
#include <functional>
#include <utility>

// The test seam behind every question put to the installer (message boxes, file dialogs):
// queued answers, a responder, an unattended mode that gives a default answer and counts it,
// and a record of every request with its answer. Request has a member `answer`.
template <class Request, class Answer> class UiSeam final
{
public:
    using Responder = std::function<Answer(const Request&)>;

    // The queued answer, else the responder's, else in unattended mode the default, else show().
    template <class Show> Answer ask(Request request, const Answer& unattendedAnswer, Show&& show)
    {
        if (!m_answers.empty()) {
            request.answer = m_answers.front();
            m_answers.pop_front();
        } else if (m_responder) {
            request.answer = m_responder(request);
        } else if (m_unattended) {
            request.answer = unattendedAnswer;
            ++m_unexpected;
        } else {
            request.answer = std::forward<Show>(show)();
        }
        m_requests.append(request);
        return request.answer;
    }

    void pushAnswer(const Answer& answer) { m_answers.push_back(answer); }
    void setResponder(Responder responder) { m_responder = std::move(responder); }
    void setUnattended(bool on) { m_unattended = on; }
    int unexpectedCount() const { return m_unexpected; }
    const QList<Request>& requests() const { return m_requests; }
    // Forgets the record, the queued answers, the responder and the count.
    void clear()
    {
        m_answers.clear();
        m_responder = nullptr;
        m_unexpected = 0;
        m_requests.clear();
    }

private:
    std::deque<Answer> m_answers;
    Responder m_responder;
    bool m_unattended = false;
    int m_unexpected = 0;
    QList<Request> m_requests;
};

// The static face a seam shows the tests: one seam per kind of question, kept for the program's
// whole run.
template <class Request, class Answer> class UiSeamFront
{
public:
    static UiSeam<Request, Answer>& seam()
    {
        static UiSeam<Request, Answer> state;
        return state;
    }
    static void pushAnswer(const Answer& answer) { seam().pushAnswer(answer); }
    // Called with each request instead of showing it when no answer is queued; gives the answer.
    static void setResponder(typename UiSeam<Request, Answer>::Responder responder)
    {
        seam().setResponder(std::move(responder));
    }
    // Without a queued answer or responder: the default answer, counted as unexpected.
    static void setUnattended(bool on) { seam().setUnattended(on); }
    static int unexpectedCount() { return seam().unexpectedCount(); }
    // Forgets the record, the queued answers, the responder and the count.
    static void clear() { seam().clear(); }
};
