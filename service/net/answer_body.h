#pragma once

#include <boost/beast/core/buffers_range.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/optional/optional.hpp>
#include <boost/system/error_code.hpp>

#include <cstdint>
#include <functional>
#include <string>

namespace yuming::service {

// A response body that goes to memory, or, for a 2xx answer when a file is named, straight to
// that file as it arrives, so a list of a gigabyte never sits in memory. Which one is decided
// from the answer's status once its header has come.
struct AnswerBody {
    class value_type {
    public:
        value_type() = default;
        ~value_type();
        value_type(const value_type&) = delete;
        value_type& operator=(const value_type&) = delete;

        // The body, when it did not go to the file.
        std::string text;
        std::uint64_t bytes() const { return m_bytes; }
        // Why the file could not be written; empty while nothing failed.
        const std::string& fileError() const { return m_fileError; }
        // Where a 2xx body goes; empty: to `text`.
        void setFile(std::string file) { m_file = std::move(file); }
        // The file was created or truncated for this answer.
        bool opened() const { return m_opened; }

        // Called once the header says the body goes to the file.
        bool openFile();
        bool append(const char* data, std::size_t size);
        // Closes the file, reporting a failed write-back; true when there was none.
        bool closeFile();
        // Closes the file and removes it, whether this opened it or not; nothing more is written.
        void discard();

    private:
        bool failed(const char* what, int error);

        std::string m_file;
        int m_fd = -1;
        bool m_opened = false;
        bool m_discarded = false;
        std::uint64_t m_bytes = 0;
        std::string m_fileError;
    };

    class reader {
    public:
        // Made with the parser, before the header has come: the status is read in init().
        template <bool isRequest, class Fields>
        reader(boost::beast::http::header<isRequest, Fields>& header, value_type& body) : m_body(body) {
            if constexpr (!isRequest) m_status = [&header] { return header.result_int(); };
        }

        void init(const boost::optional<std::uint64_t>&, boost::system::error_code& ec) {
            ec = {};
            if (m_status && m_status() / 100 == 2 && !m_body.openFile())
                ec = boost::system::errc::make_error_code(boost::system::errc::io_error);
        }

        template <class Buffers> std::size_t put(const Buffers& buffers, boost::system::error_code& ec) {
            ec = {};
            std::size_t taken = 0;
            for (const auto piece : boost::beast::buffers_range_ref(buffers)) {
                if (!m_body.append(static_cast<const char*>(piece.data()), piece.size())) {
                    ec = boost::system::errc::make_error_code(boost::system::errc::io_error);
                    return taken;
                }
                taken += piece.size();
            }
            return taken;
        }

        void finish(boost::system::error_code& ec) { ec = {}; }

    private:
        std::function<unsigned()> m_status;
        value_type& m_body;
    };
};

} // namespace yuming::service
